#!/usr/bin/env python3
"""A scripted SNMPv1 agent on UDP for the answers a real agent will not
give: large unsigned counters, odd types, long strings, and broken or
hostile datagrams.

    fake_agent.py --port-file FILE [--name TEXT] [--rows N]

Binds a free port of 127.0.0.1, writes its number to FILE, and answers
GET, GET-NEXT and SET until killed. Everything lives under
.1.3.6.1.4.1.99999 (see MIB below); a GET of a FAULTS identifier gets the
broken answer named there instead of a proper one."""
import argparse
import bisect
import os
import socket
import time

E = (1, 3, 6, 1, 4, 1, 99999)

# Value encodings: (tag, content bytes)
def u32(tag, n):
    return tag, n.to_bytes(5, 'big').lstrip(b'\0') if n else b'\0'


def integer(n):
    length = 1
    while not -(1 << (8 * length - 1)) <= n < (1 << (8 * length - 1)):
        length += 1
    return 0x02, n.to_bytes(length, 'big', signed=True)


def octets(b):
    return 0x04, b


def oid_bytes(parts):
    out = bytearray([40 * parts[0] + parts[1]])
    for p in parts[2:]:
        chunk = [p & 0x7F]
        p >>= 7
        while p:
            chunk.append(0x80 | (p & 0x7F))
            p >>= 7
        out += bytes(reversed(chunk))
    return bytes(out)


def tlv(tag, content):
    n = len(content)
    if n < 0x80:
        head = bytes([n])
    else:
        lb = n.to_bytes((n.bit_length() + 7) // 8, 'big')
        head = bytes([0x80 | len(lb)]) + lb
    return bytes([tag]) + head + content


def parse_tlv(data, pos):
    tag = data[pos]
    n = data[pos + 1]
    pos += 2
    if n & 0x80:
        k = n & 0x7F
        n = int.from_bytes(data[pos:pos + k], 'big')
        pos += k
    return tag, data[pos:pos + n], pos + n


def parse_oid(b):
    parts = [b[0] // 40, b[0] % 40]
    n = 0
    for c in b[1:]:
        n = (n << 7) | (c & 0x7F)
        if not c & 0x80:
            parts.append(n)
            n = 0
    return tuple(parts)


def build_mib(name, rows):
    mib = {
        E + (1, 0): u32(0x41, 2 ** 31),            # Counter32 at 2^31
        E + (2, 0): u32(0x41, 2 ** 32 - 1),        # Counter32 at its top
        E + (3, 0): u32(0x42, 3000000000),         # Gauge32 above 2^31
        E + (4, 0): u32(0x43, 4294967295),         # TimeTicks: 42949672 s
        E + (5, 0): (0x40, bytes([10, 1, 2, 3])),  # IpAddress
        E + (6, 0): (0x06, oid_bytes(E + (42,))),  # OBJECT IDENTIFIER
        E + (7, 0): octets(b'ab\0cd'),             # a zero byte ends the text
        E + (8, 0): octets(bytes(range(32, 127)) * 6 + b'tail'),  # 574 bytes
        E + (9, 0): (0x44, b'\x01\x02'),           # Opaque: not convertible
        E + (10, 0): integer(-5),
        E + (11, 0): octets(b'y' * 10000),
        E + (12, 0): u32(0x42, 2 ** 31 - 1),
        E + (13, 0): integer(-2 ** 31),
        E + (14, 0): octets(bytes(range(128, 256))),  # 8-bit bytes pass as they are
        # A subtree whose second value does not convert.
        E + (40, 1): integer(1),
        E + (40, 2): (0x44, b'\x00'),
        E + (40, 3): integer(3),
        # Who answers: two agents must not be mixed up.
        E + (60, 0): octets(name.encode()),
        E + (61, 0): octets(name.encode()),        # answered after a delay
        # The example of the documentation.
        E + (70, 1, 0): octets(b'UPS-3000'),
        E + (70, 2, 0): u32(0x42, 231),
        E + (70, 3, 0): u32(0x41, 3000000000),
    }
    for i in range(1, rows + 1):                   # a large subtree to walk
        mib[E + (30, i)] = integer(i)
    return mib


# GETs of these identifiers get a broken answer.
FAULTS = {
    E + (20, 1): 'garbage',       # not BER at all
    E + (20, 2): 'wrong_id',      # a proper answer to another request
    E + (20, 3): 'max_datagram',  # a proper answer of 65507 bytes
    E + (20, 4): 'truncated',     # lengths that promise more than there is
    E + (20, 5): 'long_ip',       # an IpAddress of 8 bytes
    E + (20, 6): 'no_varbind',    # an answer without a variable
    E + (20, 7): 'huge_length',   # a string whose length runs past the datagram
}
# GET-NEXT of this identifier answers the same identifier again: a walk
# that followed it would never end.
STUCK = E + (50,)
DELAYED = E + (61, 0)


def response(community, reqid, errstat, errindex, varbinds):
    vbs = b''.join(tlv(0x30, tlv(0x06, oid_bytes(o)) + tlv(t, c)) for o, (t, c) in varbinds)
    pdu = tlv(0xA2, tlv(*integer(reqid)) + tlv(*integer(errstat)) + tlv(*integer(errindex)) + tlv(0x30, vbs))
    return tlv(0x30, tlv(*integer(0)) + tlv(0x04, community) + pdu)


def answer(mib, keys, data):
    _, msg, _ = parse_tlv(data, 0)
    _, _, pos = parse_tlv(msg, 0)                     # version
    _, community, pos = parse_tlv(msg, pos)
    ptype, pdu, _ = parse_tlv(msg, pos)
    _, rid, pos = parse_tlv(pdu, 0)
    reqid = int.from_bytes(rid, 'big', signed=True)
    _, _, pos = parse_tlv(pdu, pos)
    _, _, pos = parse_tlv(pdu, pos)
    _, vbl, _ = parse_tlv(pdu, pos)
    _, vb, _ = parse_tlv(vbl, 0)
    _, raw_oid, _ = parse_tlv(vb, 0)
    name = parse_oid(raw_oid)

    if ptype == 0xA3:                                 # SET: accepted
        return response(community, reqid, 0, 0, [(name, (0x05, b''))])
    if ptype == 0xA1:
        if name == STUCK or name[:len(STUCK)] == STUCK:
            return response(community, reqid, 0, 0, [(STUCK + (1,), integer(1))])
        i = bisect.bisect_right(keys, name)
        if i == len(keys):
            return response(community, reqid, 2, 1, [(name, (0x05, b''))])
        return response(community, reqid, 0, 0, [(keys[i], mib[keys[i]])])

    fault = FAULTS.get(name)
    if fault == 'garbage':
        return b'\x30\x82\xff\xff\x02\x01' + b'\xa5' * 40
    if fault == 'wrong_id':
        return response(community, reqid + 1, 0, 0, [(name, integer(7))])
    if fault == 'max_datagram':
        size = 65507 - 200
        first = response(community, reqid, 0, 0, [(name, octets(b'z' * size))])
        return response(community, reqid, 0, 0, [(name, octets(b'z' * (size + 65507 - len(first))))])
    if fault == 'truncated':
        return response(community, reqid, 0, 0, [(name, octets(b'w' * 200))])[:120]
    if fault == 'long_ip':
        return response(community, reqid, 0, 0, [(name, (0x40, bytes(range(8))))])
    if fault == 'no_varbind':
        return response(community, reqid, 0, 0, [])
    if fault == 'huge_length':
        good = response(community, reqid, 0, 0, [(name, octets(b'h' * 300))])
        i = good.rindex(b'\x04\x82\x01\x2c')
        return good[:i] + b'\x04\x84\x7f\xff\xff\xff' + good[i + 4:]
    if name == DELAYED:
        time.sleep(0.3)
    if name not in mib:
        return response(community, reqid, 2, 1, [(name, (0x05, b''))])
    return response(community, reqid, 0, 0, [(name, mib[name])])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--port-file', required=True)
    parser.add_argument('--name', default='fake')
    parser.add_argument('--rows', type=int, default=1000)
    opts = parser.parse_args()
    mib = build_mib(opts.name, opts.rows)
    keys = sorted(mib)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    sock.bind(('127.0.0.1', 0))
    with open(opts.port_file + '.tmp', 'w') as f:
        f.write(str(sock.getsockname()[1]))
    os.replace(opts.port_file + '.tmp', opts.port_file)
    while True:
        data, peer = sock.recvfrom(65535)
        try:
            reply = answer(mib, keys, data)
        except (IndexError, ValueError):
            continue
        if reply:
            sock.sendto(reply, peer)


if __name__ == '__main__':
    main()
