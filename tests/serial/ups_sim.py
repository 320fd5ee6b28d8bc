#!/usr/bin/env python3
"""A UPS on a 2400-baud serial link, for the Serial tests and benchmarks.

Runs on the device end of a pseudo-terminal pair whose other end is the
wine prefix's COM port. The device protocol is one request byte and a
fixed-length binary answer:

    'Q'  status query -> 16-byte status frame (STATUS_FRAME below)

Test control commands (a test steers the peer through the link itself):

    'E' n <n bytes>       echo: sends the n bytes back in one write
    'L' t n <n bytes>     late echo: the same after t x 10 ms
    'C'                   configuration of the host's end of the link as the
                          host's driver left it: 8 bytes, baud rate (u32 BE),
                          data bits, parity (0 none, 1 odd, 2 even), stop bits,
                          RTS/CTS flow control (0/1)
    'P'                   presets the host's end to 19200 baud, 2 stop bits,
                          RTS/CTS flow control (what a configuration must undo);
                          answers 'p' when done

Other bytes are ignored, as a device ignores noise. A command whose
argument bytes do not follow within a second is dropped.

    ups_sim.py --device B --host-tty A [--log FILE]

B is the simulator's end; A, the host's end, is kept open (never read) so
that its terminal settings survive and can be inspected.
"""
import argparse
import os
import select
import signal
import struct
import sys
import termios
import time
import tty

# The status frame: start 0xFF; type 0x00; charge 100 %; load 42 %; input
# 230.1 V and output 230.0 V in tenths, u16 BE; 31 degrees C; flags 0x00
# (on line); runtime 255 min, u16 BE; 50 Hz; battery code 0x80; checksum
# (sum of bytes 1 to 13, mod 256); end 0x0D.
STATUS_BODY = bytes([0x00, 100, 42, 0x08, 0xFD, 0x08, 0xFC, 31, 0x00, 0x00, 0xFF, 50, 0x80])
STATUS_FRAME = bytes([0xFF]) + STATUS_BODY + bytes([sum(STATUS_BODY) & 0xFF, 0x0D])
assert len(STATUS_FRAME) == 16

SPEEDS = {getattr(termios, n): int(n[1:]) for n in dir(termios)
          if n.startswith('B') and n[1:].isdigit()}
CSIZES = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}


def log(msg):
    if args.log:
        with open(args.log, 'a') as f:
            f.write('%.3f %s\n' % (time.time(), msg))


def read_exact(fd, n, limit=1.0):
    """n bytes, or None when they do not come within `limit` seconds."""
    data = b''
    end = time.monotonic() + limit
    while len(data) < n:
        left = end - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            return None
        chunk = os.read(fd, n - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def host_config(host_fd):
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(host_fd)
    parity = 0 if not cflag & termios.PARENB else (1 if cflag & termios.PARODD else 2)
    return struct.pack('>IBBBB', SPEEDS.get(ospeed, 0), CSIZES[cflag & termios.CSIZE], parity,
                       2 if cflag & termios.CSTOPB else 1, 1 if cflag & termios.CRTSCTS else 0)


def preset(host_fd):
    attrs = termios.tcgetattr(host_fd)
    attrs[2] |= termios.CSTOPB | termios.CRTSCTS
    attrs[4] = attrs[5] = termios.B19200
    termios.tcsetattr(host_fd, termios.TCSANOW, attrs)


def serve(dev_fd, host_fd):
    while True:
        cmd = os.read(dev_fd, 1)
        if not cmd:
            return
        if cmd == b'Q':
            os.write(dev_fd, STATUS_FRAME)
        elif cmd in (b'E', b'L'):
            head = read_exact(dev_fd, 2 if cmd == b'L' else 1)
            if head is None:
                log('dropped %r' % cmd)
                continue
            payload = read_exact(dev_fd, head[-1])
            if payload is None:
                log('dropped %r' % cmd)
                continue
            if cmd == b'L':
                time.sleep(head[0] / 100.0)
            os.write(dev_fd, payload)
            log('%s %d bytes' % (cmd.decode(), len(payload)))
        elif cmd == b'C':
            os.write(dev_fd, host_config(host_fd))
        elif cmd == b'P':
            preset(host_fd)
            os.write(dev_fd, b'p')
        else:
            log('ignored %r' % cmd)


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument('--device', required=True)
    parser.add_argument('--host-tty', required=True)
    parser.add_argument('--log')
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    dev_fd = os.open(args.device, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(dev_fd)
    host_fd = os.open(args.host_tty, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    log('ready')
    serve(dev_fd, host_fd)


if __name__ == '__main__':
    main()
