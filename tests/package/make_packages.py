#!/usr/bin/env python3
"""Fixtures for the package tests, written at build time.

  make_packages.py data OUTDIR --listed EXE
      Packages built here byte by byte (struct and zlib, not kx4pack's
      writer): well-formed ones in shapes kx4pack never writes, and damaged
      ones. OUTDIR/cases.js holds the tables that package_reader.js walks:
      every file with what initAFS and extract must give for it, and the
      listing kx4pack prints for EXE, to check the reader's offsets against.

  make_packages.py tail IN OUT COUNT
      OUT is IN with COUNT filler bytes appended after its trailer.
"""

import json
import os
import random
import struct
import subprocess
import sys
import zlib

MAGIC = b"\xab\xcd\xab\xcd"
TIME = 1234567890000
HERE = os.path.dirname(os.path.abspath(__file__))
KX4PACK = os.path.join(HERE, "..", "..", "tools", "kx4pack.py")

rng = random.Random(20240131)


def random_bytes(n):
    """Pseudo-random bytes that never hold the magic (it would move the
    trailer the search finds)."""
    data = bytearray(rng.getrandbits(8) for _ in range(n))
    while True:
        i = data.find(MAGIC)
        if i < 0:
            return bytes(data)
        data[i] ^= 0x01


def image(n):
    """A stand-in for the program image: "MZ" and n - 2 further bytes."""
    return (b"MZ" + random_bytes(n))[:n]


def filler(n):
    return bytes((i * 7 + 3) & 0x7F for i in range(n))


def literal(name, quote="'"):
    """The name as a script string literal: quote and backslash escaped,
    every other byte written raw (the directory is 8-bit text)."""
    out = bytearray(quote.encode())
    for b in name:
        if b in (ord(quote), ord("\\")):
            out += b"\\"
        out.append(b)
    return bytes(out) + quote.encode()


class E:
    """One entry: its name and content, and any field written wrongly on
    purpose (size, csize, stream) or extra text inside its object."""

    def __init__(self, name, data, size=None, csize=None, stream=None,
                 extra=b"", fields=None):
        self.name = name if isinstance(name, bytes) else name.encode()
        self.data = data
        self.stream = zlib.compress(data) if stream is None else stream
        self.size = len(data) if size is None else size
        self.csize = len(self.stream) if csize is None else csize
        self.extra = extra
        self.fields = fields   # the whole object text, when given

    def text(self, quote):
        body = self.fields
        if body is None:
            body = b"{size:%s, csize:%s, time:%d%s}" % (
                str(self.size).encode(), str(self.csize).encode(), TIME,
                self.extra)
        return literal(self.name, quote) + b":" + body


def directory(entries, quote="'", sep=b", ", wrap=(b"({", b"})")):
    return wrap[0] + sep.join(e.text(quote) for e in entries) + wrap[1]


def package(entries=(), text=None, quote="'", pre=b"", post=b"",
            c=None, u=None, length=None, dstream=None):
    """pre + package + post; text replaces the directory text, c, u and
    length the header and trailer fields, dstream the directory stream."""
    entries = list(entries)
    if text is None:
        text = directory(entries, quote)
    if dstream is None:
        dstream = zlib.compress(text)
    body = struct.pack(">II", len(dstream) if c is None else c,
                       len(text) if u is None else u)
    body += dstream + b"".join(e.stream for e in entries)
    real_length = len(body) + 8
    body += MAGIC + struct.pack(">I", real_length if length is None
                                else length)
    return pre + body + post, {"pos": len(pre), "size": real_length,
                               "c": len(dstream)}


def js(value):
    """Bytes become strings of one character per byte."""
    if isinstance(value, bytes):
        return json.dumps(value.decode("latin-1"))
    if isinstance(value, dict):
        return "{" + ", ".join("%s: %s" % (json.dumps(k), js(v))
                               for k, v in value.items()) + "}"
    if isinstance(value, (list, tuple)):
        return "[" + ", ".join(js(v) for v in value) + "]"
    return json.dumps(value)


class Writer:
    def __init__(self, outdir):
        self.outdir = outdir
        self.found = []
        self.damaged = []

    def write(self, file_name, data):
        path = os.path.join(self.outdir, file_name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def good(self, title, file_name, data, meta=None, entries=(),
             attrs=None):
        """A file whose package initAFS must find (meta given) or not."""
        case = {"title": title, "file": self.write(file_name, data),
                "head": data[:4], "found": meta is not None}
        if meta is not None:
            case["pos"] = meta["pos"]
            case["size"] = meta["size"]
            pos = meta["pos"] + 8 + meta["c"]
            listed = []
            for e in entries:
                listed.append({"name": e.name, "size": e.size,
                               "csize": e.csize, "pos": pos, "time": TIME,
                               "content": e.data})
                pos += e.csize
            case["entries"] = listed
            case["attrs"] = attrs or {}
        self.found.append(case)

    def bad(self, title, file_name, data, fails, entry=None, intact=None):
        """A damaged file. fails: 'init' (initAFS false or an Error),
        'extract' (initAFS true; extract of entry an Error or undefined),
        'either' (one of the two). intact: an entry that must still
        extract whole."""
        case = {"title": title, "file": self.write(file_name, data),
                "head": data[:4], "fails": fails}
        if entry is not None:
            case["entry"] = entry
        if intact is not None:
            case["intact"] = {"name": intact.name, "content": intact.data}
        self.damaged.append(case)


def well_formed(w):
    big = image(12000)
    small = image(300)
    hello = E("a.txt", b"hello, package")
    every = E("bin/all256.bin", bytes(range(256)))
    empty = E("empty.txt", b"")
    noise = E("data/noise.bin", random_bytes(5000))
    text = E("scripts/long.js", b"var x = 1;\r\n" * 400)
    common = [hello, every, empty, noise, text]

    data, meta = package(common, pre=big)
    w.good("trailer is the last 8 bytes", "end.pkg", data, meta, common)
    data, meta = package(common, pre=small)
    w.good("file shorter than the search window, trailer at its end",
           "small_end.pkg", data, meta, common)
    data, meta = package(common)
    w.good("package alone, starting at offset 0", "alone.pkg", data, meta,
           common)
    for n in (1, 100, 9992):
        data, meta = package(common, pre=big, post=filler(n))
        w.good("trailer followed by %d bytes" % n, "after_%d.pkg" % n, data,
               meta, common)
    data, _ = package(common, pre=big, post=filler(9993))
    w.good("trailer followed by 9993 bytes: outside the search", "after_9993.pkg",
           data)
    data, _ = package(common, pre=small, post=filler(1))
    w.good("file shorter than the search window, 1 byte after the trailer",
           "small_after_1.pkg", data)

    # Two packages back to back: the probe takes the one whose trailer ends
    # the file; with bytes after it the search takes the lowest magic.
    first_entries = [E("first.txt", b"from the first package")]
    second_entries = [E("second.txt", b"from the second package")]
    first, first_meta = package(first_entries, pre=big)
    both, second_meta = package(second_entries, pre=first)
    w.good("two packages: the probe takes the one at the end", "two_end.pkg",
           both, second_meta, second_entries)
    both_after = both + filler(20)
    assert both_after.find(MAGIC, len(both_after) - 10000) == len(first) - 8
    w.good("two packages, bytes after: the search takes the lowest magic",
           "two_after.pkg", both_after, first_meta, first_entries)

    quoted = [E('say "hi".txt', b"double"), E("it's.txt", b"single inside"),
              E("x.txt", b"plain")]
    data, meta = package(quoted, quote='"')
    w.good("names in double quotes", "double_quoted.pkg", data, meta, quoted)

    unsorted = [E("z.txt", b"zzz" * 50), E("a.txt", b"a"),
                E("m/n.txt", b"mmmm" * 20)]
    data, meta = package(unsorted, pre=small)
    w.good("entries listed out of name order", "unsorted.pkg", data, meta,
           unsorted)

    # Names that look like array indices, not listed first nor ascending:
    # the streams follow the listing, whatever order an engine keeps keys in.
    numeric = [E("b.txt", b"bee"), E("10", b"ten" * 30), E("2", b"two"),
               E("a.txt", b"ay" * 40)]
    data, meta = package(numeric, pre=small)
    w.good("names like array indices, listed b, 10, 2, a", "numeric.pkg",
           data, meta, numeric)

    extra = [E("app.js", b"app()", extra=b', module:"app", recurse:true'),
             E("lib.js", b"lib()", extra=b", module:'lib', note:\"x y\"")]
    data, meta = package(extra)
    w.good("further attributes stay in the entry", "attributes.pkg", data,
           meta, extra, attrs={"app.js": {"module": "app", "recurse": True},
                               "lib.js": {"module": "lib", "note": "x y"}})

    spaced = [E("one.txt", b"1"), E("two.txt", b"22")]
    text_spaced = b"(\r\n {\n\t" + b",\n\t".join(
        e.text("'") for e in spaced) + b",\n }\n)\n"
    data, meta = package(spaced, text=text_spaced)
    w.good("directory over several lines, trailing comma", "spaced.pkg",
           data, meta, spaced)

    eight_bit = [E(b"caf\xe9/na\xefve.txt", b"\xe9\xef\x00\xff"),
                 E(b"\xff\x80.bin", b"high")]
    data, meta = package(eight_bit)
    w.good("8-bit names written raw", "eight_bit.pkg", data, meta, eight_bit)

    data, meta = package([], text=b"({})")
    w.good("empty directory", "empty_dir.pkg", data, meta, [])

    w.good("no package: random bytes", "random.bin", random_bytes(20000))
    w.good("no package: empty file", "empty.bin", b"")
    w.good("no package: 7 bytes", "seven.bin", b"MZ12345")


def damaged(w):
    pre = image(3000)
    ok = E("ok.txt", b"this entry is fine " * 10)
    one = [ok, E("b.txt", b"second entry " * 20)]
    text = directory(one)

    def pkg(name, fails, entry=None, intact=None, **kw):
        data, _ = package(kw.pop("entries", one), pre=pre, **kw)
        w.bad(name, "bad_%02d.pkg" % (len(w.damaged) + 1), data, fails, entry,
              intact)

    # The directory stream and its sizes.
    pkg("U one more than the directory", "init", u=len(text) + 1)
    pkg("U one less than the directory", "init", u=len(text) - 1)
    pkg("U of 4 GiB - 1", "init", u=0xFFFFFFFF)
    pkg("C of 0", "init", c=0)
    pkg("C one short: the stream is cut", "init", c=len(zlib.compress(text)) - 1)
    pkg("C past the trailer", "init", c=len(zlib.compress(text)) + 5000)
    pkg("C of 4 GiB - 1", "init", c=0xFFFFFFFF)
    pkg("garbage instead of the directory stream", "init",
        dstream=random_bytes(len(zlib.compress(text))))
    pkg("directory stream with a wrong checksum", "init",
        dstream=zlib.compress(text)[:-1] + bytes([zlib.compress(text)[-1] ^ 1]))

    # The trailer's package length.
    w.bad("nothing but a trailer, package length 8", "trailer_only.pkg",
          MAGIC + struct.pack(">I", 8), "init")
    size = len(package(one)[0])
    for length, why in ((0, "0"), (8, "8"), (15, "15, below the minimum"),
                        (size + len(pre) + 1, "one past the file start"),
                        (0xFFFFFFFF, "4 GiB - 1"),
                        (size + 100, "landing inside the image")):
        pkg("package length %s" % why, "init", length=length)

    # What the directory evaluates to.
    for body, why in ((b"42", "a number"), (b"null", "null"),
                      (b"'text'", "a string"), (b"undefined", "undefined"),
                      (b"({'a': 5})", "an object holding a number"),
                      (b"({'a': null})", "an object holding null"),
                      (b"({'a': 'x'})", "an object holding a string"),
                      (b"({'a': {size: 1, csize: ", "a syntax error"),
                      (b"(function () { throw new Error('from the directory'); })()",
                       "a throwing expression")):
        pkg("directory is %s" % why, "init", entries=[], text=body)

    # Entries.
    def bad_entry(why, fails, **kw):
        e = E("bad.txt", b"the damaged entry " * 8, **kw)
        pkg(why, fails, entries=[ok, e], entry="bad.txt", intact=ok)

    content = b"the damaged entry " * 8
    bad_entry("entry size one more than its content", "extract",
              size=len(content) + 1)
    bad_entry("entry size one less than its content", "extract",
              size=len(content) - 1)
    bad_entry("entry size 2 GiB - 1", "extract", size=0x7FFFFFFF)
    bad_entry("garbage instead of the entry stream", "extract",
              stream=random_bytes(len(zlib.compress(content))))
    bad_entry("entry stream with a wrong checksum", "extract",
              stream=zlib.compress(content)[:-1] +
              bytes([zlib.compress(content)[-1] ^ 1]))
    bad_entry("entry csize one short", "extract",
              csize=len(zlib.compress(content)) - 1)
    bad_entry("entry csize running past the trailer", "either",
              csize=len(zlib.compress(content)) + 9)
    bad_entry("entry csize of 4 GiB - 1", "either", csize=0xFFFFFFFF)
    bad_entry("entry csize negative", "either", csize=-20)
    bad_entry("entry csize not a number", "either", csize="'many'")
    bad_entry("entry without csize", "either",
              fields=b"{size:%d, time:1}" % len(content))


def listing(exe):
    """kx4pack's listing of a packaged executable, as numbers."""
    out = subprocess.run([sys.executable, KX4PACK, "list", exe], check=True,
                         stdout=subprocess.PIPE, universal_newlines=True).stdout
    lines = out.splitlines()
    head = dict(f.split("=") for f in lines[0].split())
    entries = []
    for line in lines[2:]:
        pos, size, csize, time, name = line.split(None, 4)
        entries.append({"name": name, "pos": int(pos), "size": int(size),
                        "csize": int(csize), "time": int(time)})
    return {"file": os.path.abspath(exe),
            "P": int(head["P"]), "L": int(head["L"]), "C": int(head["C"]),
            "U": int(head["U"]), "entries": entries}


def compress_cases():
    """Streams made by Python's zlib at several levels: the host must
    inflate what another compressor wrote."""
    cases = []
    for n, level in ((0, 6), (1, 0), (300, 1), (3000, 9), (70000, 6)):
        # Long ones in 16 letters: they compress, and stay short in cases.js.
        data = bytes(rng.getrandbits(8) if n < 1000 else 0x61 + rng.getrandbits(4)
                     for _ in range(n))
        cases.append({"content": data, "z": zlib.compress(data, level),
                      "level": level})
    return cases


def cmd_data(outdir, exe):
    os.makedirs(outdir, exist_ok=True)
    w = Writer(outdir)
    well_formed(w)
    damaged(w)
    with open(os.path.join(outdir, "cases.js.tmp"), "w") as f:
        f.write("// Written by make_packages.py: do not edit.\n")
        f.write("var foundCases = %s;\n" % js(w.found))
        f.write("var damagedCases = %s;\n" % js(w.damaged))
        f.write("var listedPackage = %s;\n" % js(listing(exe)))
        f.write("var compressCases = %s;\n" % js(compress_cases()))
    os.replace(os.path.join(outdir, "cases.js.tmp"),
               os.path.join(outdir, "cases.js"))


def cmd_tail(src, dst, count):
    with open(src, "rb") as f:
        data = f.read()
    assert data[-8:-4] == MAGIC, "%s does not end with a trailer" % src
    with open(dst + ".tmp", "wb") as f:
        f.write(data + filler(count))
    os.replace(dst + ".tmp", dst)


def main(argv):
    if len(argv) == 4 and argv[0] == "data" and argv[2] == "--listed":
        cmd_data(argv[1], argv[3])
    elif len(argv) == 4 and argv[0] == "tail":
        cmd_tail(argv[1], argv[2], int(argv[3]))
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
