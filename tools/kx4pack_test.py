#!/usr/bin/env python3
"""Tests of kx4pack.py. Run: python3 tools/kx4pack_test.py"""

import contextlib
import io
import json
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import kx4pack as kp  # noqa: E402

TOOL = os.path.join(HERE, "kx4pack.py")
MAGIC = b"\xab\xcd\xab\xcd"
TIME = 1393495163000
# Stands in for kx4.exe; no magic in it.
IMAGE = b"MZ" + bytes(range(0x20, 0x7F)) * 8
NODE = shutil.which("node")
POSIX = os.name == "posix"


def frame(text, streams, image=IMAGE, after=b"", c=None, u=None, l=None,
          magic=MAGIC, dstream=None):
    """A packaged file assembled by hand, without the writer: image, C, U,
    directory stream, entry streams, magic, L, then any bytes after."""
    d = zlib.compress(text) if dstream is None else dstream
    body = struct.pack(">II", len(d) if c is None else c,
                       len(text) if u is None else u) + d + b"".join(streams)
    length = len(body) + 8 if l is None else l
    return image + body + magic + struct.pack(">I", length) + after


def z(data, level=-1):
    return zlib.compress(data, level)


def run(*argv):
    """kx4pack's main in this process: (exit code, stdout, stderr)."""
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            code = kp.main(list(argv))
        except SystemExit as exc:       # argparse errors
            code = exc.code
    return code, out.getvalue(), err.getvalue()


def canonical(names):
    """Expected package order: array-index names by value, then by bytes."""
    def key(n):
        if n.isdigit() and (n == b"0" or not n.startswith(b"0")):
            return (0, int(n), b"")
        return (1, 0, n)
    return sorted(names, key=key)


class TempDir(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.tmp = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def write(self, rel, data):
        p = self.path(*rel.split("/"))
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        return p

    def tree(self, files, folder="app"):
        """A fresh folder holding exactly files."""
        root = self.path(folder)
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
        for name, data in files.items():
            self.write(folder + "/" + name, data)
        return root

    def build(self, files, manifest=None, time=TIME, image=IMAGE, extra=()):
        """Build app/ from files (None: as it is) onto image; returns
        (code, err, bytes)."""
        folder = self.tree(files) if files is not None else self.path("app")
        exe = self.path("kx4.exe")
        with open(exe, "wb") as f:
            f.write(image)
        argv = ["build", "--exe", exe, "--from", folder,
                "-o", self.path("out.exe")]
        if manifest is not None:
            with open(self.path("manifest.json"), "w") as f:
                json.dump(manifest, f)
            argv += ["--manifest", self.path("manifest.json")]
        if time is not None:
            argv += ["--time", str(time)]
        code, _, err = run(*(argv + list(extra)))
        data = None
        if code == 0:
            with open(self.path("out.exe"), "rb") as f:
                data = f.read()
        return code, err, data

    def packaged(self, data, name="pkg.exe"):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)


ROUND_TRIPS = [
    ("empty folder", {}),
    ("nested folders", {"a.js": b"a", "lib/b.js": b"bb",
                        "lib/x/y/z.txt": b"zzz" * 100, "lib/x/w.js": b"w"}),
    ("all byte values", {"bytes.bin": bytes(range(256))}),
    ("empty file", {"empty.txt": b"", "next.txt": b"after the empty one"}),
    ("incompressible", {"noise.bin": bytes(random.Random(4).getrandbits(8)
                                           for _ in range(5000))}),
    ("quotes and backslashes", {"it's.js": b"1", 'say "hi".txt': b"2",
                                "back\\slash.txt": b"3"}),
    ("non-ASCII", {"donn\u00e9es/\u00e9t\u00e9.txt": "\u00e9".encode(),
                   "\u65e5\u672c.js": b"x"}),
    ("control characters", {"tab\there.txt": b"t", "new\nline": b"n"}),
    ("array-index names", {"10": b"ten", "9": b"nine", "0": b"zero",
                           "01": b"leading zero", "a": b"a"}),
]


class RoundTripTest(TempDir):
    def test_round_trips(self):
        for label, files in ROUND_TRIPS:
            if not POSIX and any(c in n for n in files for c in '\\"\t\n'):
                continue   # not valid in Windows file names
            with self.subTest(label):
                code, err, data = self.build(files)
                self.assertEqual(code, 0, err)
                self.assertEqual(data[:len(IMAGE)], IMAGE)
                self.assertEqual(data[-8:-4], MAGIC)
                pkg = kp.read_package(data)
                self.assertEqual(pkg.start, len(IMAGE))
                self.assertEqual(pkg.length, len(data) - len(IMAGE))
                want = {n.encode(): d for n, d in files.items()}
                self.assertEqual([e.name for e in pkg.entries],
                                 canonical(want))
                pos = pkg.start + 8 + pkg.csize
                for e in pkg.entries:
                    self.assertEqual(e.pos, pos)
                    pos += e.csize
                    self.assertEqual(e.size, len(want[e.name]))
                    self.assertEqual(e.time, TIME)
                    self.assertEqual(kp.inflate_entry(data, e),
                                     want[e.name])
                    self.assertEqual(e.attrs, {})
                code, out, err = run("verify", self.packaged(data))
                self.assertEqual((code, out), (0, "ok: %d entries\n"
                                               % len(files)), err)

    def test_array_index_names_come_first_ascending(self):
        code, err, data = self.build({"10": b"", "9": b"", "0": b"",
                                      "01": b"", "a": b"", "4294967295": b"",
                                      "4294967294": b""})
        self.assertEqual(code, 0, err)
        self.assertEqual([e.name for e in kp.read_package(data).entries],
                         [b"0", b"9", b"10", b"4294967294", b"01",
                          b"4294967295", b"a"])

    def test_exact_directory_text_and_streams(self):
        files = {"scripts/autorun.js": b"System.print(1)\n", "b.txt": b""}
        code, err, data = self.build(files, {"defaults": {"module": "app"}})
        self.assertEqual(code, 0, err)
        a = z(files["scripts/autorun.js"])
        b = z(b"")
        text = ("({'b.txt':{size:0, csize:%d, time:%d, module:\"app\"}, "
                "'scripts/autorun.js':{size:16, csize:%d, time:%d, "
                "module:\"app\"}})" % (len(b), TIME, len(a), TIME)).encode()
        self.assertEqual(data, frame(text, [b, a]))

    def test_names_and_values_escaped_to_printable_ascii(self):
        every = bytes(range(1, 256))
        text = kp.directory_text([(every, 1, 2, 3, {"s": every, "t": "\u00e9",
                                                    "b": True, "n": -2.5})])
        self.assertTrue(all(0x20 <= c <= 0x7E for c in text), text)
        [(name, props)] = kp.parse_directory(text)
        self.assertEqual(name, every)
        self.assertEqual(props, {"size": 1, "csize": 2, "time": 3, "s": every,
                                 "t": b"\xc3\xa9", "b": True, "n": -2.5})

    def test_time_is_mtime_in_whole_seconds(self):
        folder = self.tree({"a.txt": b"a"})
        os.utime(os.path.join(folder, "a.txt"),
                 ns=(0, 1393495163 * 10**9 + 999999999))
        entries = kp.collect_entries(folder, kp.Manifest())
        self.assertEqual(entries[0].time, 1393495163000)

    def test_reproducible(self):
        files = {"a.js": b"a" * 1000, "d/b.js": b"b"}
        _, _, first = self.build(files)
        os.utime(self.path("app", "a.js"), (1, 1))
        _, _, second = self.build(None)
        self.assertEqual(first, second)
        _, _, third = self.build(None, time=None)
        self.assertNotEqual(first, third)


# (label, directory text, entry streams, [(name, content, attributes)])
def _hand_built():
    a, b = z(b"alpha"), z(b"bravo!")
    return [
        ("double-quoted, not sorted",
         b'({"b.txt":{size:6, csize:%d, time:1000}, "a.txt":{size:5, '
         b'csize:%d, time:2000}})' % (len(b), len(a)),
         [b, a], [(b"b.txt", b"bravo!", {}), (b"a.txt", b"alpha", {})]),
        ("whitespace everywhere and trailing commas",
         b"\n ( {\n\t'a.txt' : { size : 5 ,csize:%d , time : 7 , } ,\r\n"
         b"  'b.txt':{\x0bsize:6,csize:%d,time:8}, } ) \n" % (len(a), len(b)),
         [a, b], [(b"a.txt", b"alpha", {}), (b"b.txt", b"bravo!", {})]),
        ("escapes in names",
         b"({'\\x41\\u0042\\'\\\\\"':{size:5,csize:%d,time:0},"
         b"\"\\'q\\\"\\n\":{size:6,csize:%d,time:0}})" % (len(a), len(b)),
         [a, b], [(b"AB'\\\"", b"alpha", {}), (b"'q\"\n", b"bravo!", {})]),
        ("raw 8-bit name",
         b"({'\xe9t\xe9':{size:5,csize:%d,time:0}})" % len(a),
         [a], [(b"\xe9t\xe9", b"alpha", {})]),
        ("attributes of every kind, quoted keys, no time",
         b"({'a':{'size':5, \"csize\":%d, module:\"m\\x41\", recurse:true, "
         b"off:false, level:-2, ratio:0.5, big:1e3, hex:0x10, pos:99}})"
         % len(a),
         [a], [(b"a", b"alpha", {"module": b"mA", "recurse": True,
                                "off": False, "level": -2, "ratio": 0.5,
                                "big": 1000, "hex": 16})]),
        ("empty directory", b"( { } )", [], []),
        ("empty entry", b"({'e':{size:0,csize:8,time:0}})", [z(b"")],
         [(b"e", b"", {})]),
    ]


class HandBuiltTest(TempDir):
    def test_read_list_verify_extract(self):
        for label, text, streams, want in _hand_built():
            with self.subTest(label):
                data = frame(text, streams)
                pkg = kp.read_package(data)
                self.assertEqual(pkg.text, text)
                self.assertEqual(pkg.usize, len(text))
                self.assertEqual([e.name for e in pkg.entries],
                                 [n for n, _, _ in want])
                pos = pkg.start + 8 + pkg.csize
                for e, stream, (_, content, attrs) in zip(pkg.entries,
                                                          streams, want):
                    self.assertEqual((e.pos, e.csize), (pos, len(stream)))
                    pos += len(stream)
                    self.assertEqual(e.attrs, attrs)
                    self.assertEqual(kp.inflate_entry(data, e), content)
                f = self.packaged(data)
                code, out, err = run("verify", f)
                self.assertEqual((code, out), (0, "ok: %d entries\n"
                                               % len(want)), err)
                code, out, err = run("list", f)
                self.assertEqual(code, 0, err)
                self.assertIn("P=%d L=%d C=%d U=%d" % (
                    len(IMAGE), len(data) - len(IMAGE), pkg.csize,
                    len(text)), out)
                self.assertEqual(len(out.splitlines()),
                                 1 + (1 + len(want) if want else 0))

    def test_list_shows_each_entry(self):
        a = z(b"alpha")
        data = frame(b"({'x y':{size:5,csize:%d,time:1000,module:\"m\"}})"
                     % len(a), [a])
        code, out, _ = run("list", self.packaged(data))
        self.assertEqual(code, 0)
        pos = len(IMAGE) + 8 + len(z(b"({'x y':{size:5,csize:%d,time:1000,"
                                     b"module:\"m\"}})" % len(a)))
        self.assertEqual(out.splitlines()[-1].split(),
                         [str(pos), "5", str(len(a)), "1000", "'x", "y'",
                          'module:"m"'])


class TrailerTest(unittest.TestCase):
    def test_trailer_positions(self):
        # (label, file, offset of the magic the runtime would use)
        pkg = frame(b"({})", [], image=b"MZ" * 10)
        big = b"\0" * 20000 + pkg
        fake = z(MAGIC + struct.pack(">I", 5), 0)  # stored: magic visible
        decoy = frame(b"({'f':{size:8,csize:%d,time:0}})" % len(fake), [fake],
                      image=b"\0" * 20000)
        cases = [
            ("last 8 bytes", big, len(big) - 8),
            ("1 byte after", big + b"\1", len(big) - 8),
            ("9992 bytes after", big + b"\1" * 9992, len(big) - 8),
            ("9993 bytes after: out of reach", big + b"\1" * 9993, None),
            ("short file, trailer at end", pkg, len(pkg) - 8),
            ("short file, 1 byte after: no search", pkg + b"\1", None),
            ("file of exactly 10000 bytes", b"\0" * (10000 - len(pkg) - 2)
             + pkg + b"\1\1", 10000 - 10),
            ("magic cut by the end is not found", b"\0" * 9999 + MAGIC[:3],
             None),
            ("magic in the last 4 bytes", b"\0" * 9996 + MAGIC, 9996),
            ("nothing", b"", None),
            ("first magic wins in the search", decoy + b"\1",
             decoy.find(MAGIC)),
            ("probe wins over an earlier magic", decoy, len(decoy) - 8),
        ]
        for label, data, want in cases:
            with self.subTest(label):
                self.assertEqual(kp.find_trailer(data), want)
        self.assertLess(decoy.find(MAGIC), len(decoy) - 8)

    def test_package_followed_by_bytes_verifies(self):
        a = z(b"alpha")
        data = frame(b"({'a':{size:5,csize:%d,time:0}})" % len(a), [a],
                     image=b"\0" * 20000, after=b"\1" * 9992)
        pkg = kp.read_package(data)
        self.assertEqual(pkg.trailer, len(data) - 9992 - 8)
        self.assertEqual(kp.inflate_entry(data, pkg.entries[0]), b"alpha")


def _damaged():
    """(label, file bytes, message fragment)"""
    a, b = z(b"alpha"), z(b"bravo!")
    ok = b"({'a':{size:5,csize:%d,time:0},'b':{size:6,csize:%d,time:0}})"

    def two(ca=len(a), cb=len(b), sa=5, sb=6, streams=(a, b), **kw):
        text = (b"({'a':{size:%d,csize:%d,time:0},'b':{size:%d,csize:%d,"
                b"time:0}})" % (sa, ca, sb, cb))
        return frame(text, list(streams), **kw)

    good = two()
    text = ok % (len(a), len(b))
    bad_dir = bytearray(z(text))
    bad_dir[4] ^= 0xFF
    fake = z(MAGIC + struct.pack(">I", 5), 0)
    return [
        ("cut before the end of the trailer", good[:-2], "no package"),
        ("cut inside the last stream, L kept right",
         two(streams=(a, b[:-3]), l=len(two()) - len(IMAGE) - 3),
         "runs 3 bytes past the trailer"),
        ("length field cut off",
         two(image=b"\0" * 20000)[:-3], "cut off by the end of the file"),
        ("bad magic", two(magic=b"\xab\xcd\xab\xce"), "no package"),
        ("L beyond the file", two(l=len(good) + 100),
         "reaches 100 bytes before the start of the file"),
        ("L below the minimum", two(l=12), "L=12 (trailer at offset"),
        ("C beyond the trailer", two(c=100000),
         "directory stream C=100000 at offset %d runs %d bytes past the "
         "trailer at offset %d" % (len(IMAGE) + 8, len(IMAGE) + 8 + 100000
                                   - (len(good) - 8), len(good) - 8)),
        ("directory longer than U", frame(text, [a, b], u=len(text) - 1),
         "directory stream inflates to more than U=%d" % (len(text) - 1)),
        ("directory shorter than U", frame(text, [a, b], u=len(text) + 5),
         "directory stream inflates to %d bytes, not U=%d"
         % (len(text), len(text) + 5)),
        ("directory corrupt", frame(text, [a, b], dstream=bytes(bad_dir)),
         "directory stream does not inflate"),
        ("directory stream cut by C",
         frame(text, [z(text)[-1:], a, b], dstream=z(text)[:-1]),
         "directory stream is cut off"),
        ("bytes after the directory stream within C",
         frame(text, [a, b], dstream=z(text) + b"\0"),
         "directory stream ends after %d of its C=%d" % (
             len(z(text)), len(z(text)) + 1)),
        ("directory text not the literal form",
         frame(b"({'a':{size:5,csize:%d}}" % len(a), [a]),
         "directory text: offset 24: expected ')' closing"),
        ("entry csize 1 too small, next 1 too large",
         two(ca=len(a) - 1, cb=len(b) + 1),
         "entry 'a' is cut off: its csize=%d bytes" % (len(a) - 1)),
        ("entry csize 1 too large, next 1 too small",
         two(ca=len(a) + 1, cb=len(b) - 1),
         "entry 'a' ends after %d of its csize=%d bytes"
         % (len(a), len(a) + 1)),
        ("last csize too large", two(cb=len(b) + 1),
         "entry 'b': its stream (offset %d, csize=%d) runs 1 byte past the "
         "trailer" % (len(good) - 8 - len(b), len(b) + 1)),
        ("gap before the trailer", two(streams=(a, b, b"\0")),
         "entry streams end at offset"),
        ("entry inflates to fewer bytes than size", two(sb=7),
         "entry 'b' inflates to 6 bytes, not size=7"),
        ("entry inflates to more bytes than size", two(sa=4),
         "entry 'a' inflates to more than size=4"),
        ("entry stream corrupt", two(streams=(a, b[:2] + b"\xff" * 
                                               (len(b) - 2))),
         "entry 'b' does not inflate"),
        ("size missing", frame(b"({'a':{csize:%d}})" % len(a), [a]),
         "entry 'a' has no size"),
        ("size not whole", frame(b"({'a':{size:4.5,csize:%d}})" % len(a), [a]),
         "entry 'a': size is 4.5, not a whole number"),
        ("size negative", frame(b"({'a':{size:-5,csize:%d}})" % len(a), [a]),
         "size is -5"),
        ("csize a string", frame(b"({'a':{size:5,csize:'13'}})", [a]),
         "csize is \"13\""),
        ("time a string", frame(b"({'a':{size:5,csize:%d,time:'x'}})"
                                % len(a), [a]), "time is \"x\""),
        ("array-index name after another",
         frame(b"({'a':{size:5,csize:%d},'7':{size:6,csize:%d}})"
               % (len(a), len(b)), [a, b]), "entry '7' looks like an array"),
        ("array-index names descending",
         frame(b"({'7':{size:5,csize:%d},'3':{size:6,csize:%d}})"
               % (len(a), len(b)), [a, b]), "listed after '7'"),
        ("a magic inside an entry shadows the trailer",
         frame(b"({'f':{size:8,csize:%d,time:0}})" % len(fake), [fake],
               image=b"\0" * 20000, after=b"\1"),
         "L=5 (trailer at offset"),
    ]


class DamagedTest(TempDir):
    def test_verify_rejects(self):
        for label, data, message in _damaged():
            with self.subTest(label):
                code, out, err = run("verify", self.packaged(data))
                self.assertEqual((code, out), (1, ""))
                self.assertTrue(err.startswith("kx4pack: verify: "), err)
                self.assertIn(message, err)
                self.assertEqual(err.count("\n"), 1, err)

    def test_list_rejects_frame_and_directory_damage(self):
        for label, data, message in _damaged():
            if "entry '" in message or "listed after" in message:
                continue   # checks of verify alone
            with self.subTest(label):
                code, out, err = run("list", self.packaged(data))
                self.assertEqual((code, out), (1, ""))
                self.assertIn(message, err)

    def test_extract_reports_a_damaged_entry(self):
        a = z(b"alpha")
        data = frame(b"({'a':{size:6,csize:%d,time:0}})" % len(a), [a])
        code, _, err = run("extract", self.packaged(data), "a",
                           "-o", self.path("a"))
        self.assertEqual(code, 1)
        self.assertIn("entry 'a' inflates to 5 bytes, not size=6", err)


# (text, message fragment): texts the reader must refuse, not guess at
BAD_TEXTS = [
    (b"{'a':{size:1,csize:1}}", "offset 0: expected '(' opening"),
    (b"({'a':{size:1,csize:1}})x", "text after the directory"),
    (b"({'a':{size:1,csize:1}}) // note", "text after the directory"),
    (b"({a:{size:1,csize:1}})", "offset 2: expected a quoted entry name"),
    (b"({'a':{size:f()}})", "expected a string, number, true or false"),
    (b"({'a':{size:1,x:null}})", "expected a string, number, true or false"),
    (b"({'a':{size:1,x:{}}})", "expected a string, number, true or false"),
    (b"({'a':{size:1,x:[1]}})", "expected a string, number, true or false"),
    (b"({'a':1})", "expected an entry object"),
    (b"({'a\n':{}})", "line break inside a string"),
    (b"({'a':{}", "expected ',' or '}', found end of text"),
    (b"({'a:{}})", "unterminated string"),
    (b"({'\\u0100':{}})", "beyond 8 bits"),
    (b"({'\\x4':{}})", "bad \\x escape"),
    (b"({'\\1':{}})", "octal escape"),
    (b"({'a':{}, \"a\":{}})", "duplicate name 'a'"),
    (b"({'a':{size:1, 'size':2}})", "duplicate name 'size'"),
    (b"({'__proto__':{}})", "'__proto__' would set a prototype"),
    (b"({'a':{__proto__:1}})", "'__proto__' would set a prototype"),
    (b"({'a':{size:010}})", "malformed number"),
    (b"({'a':{size:1x}})", "malformed number"),
    (b"({'a':{size:1 csize:2}})", "expected ',' or '}'"),
    (b"({'a':{size:1}}\0)", "expected ')' closing the directory"),
    (b"({'a':{size:1},,})", "expected a quoted entry name"),
    (b"", "expected '(' opening the directory, found end of text"),
]


class ParserTest(unittest.TestCase):
    def test_refuses(self):
        for text, message in BAD_TEXTS:
            with self.subTest(text):
                with self.assertRaises(kp.PackageError) as cm:
                    kp.parse_directory(text)
                self.assertIn(message, str(cm.exception))

    def test_numbers(self):
        for literal, value in [(b"0", 0), (b"1393495163000", 1393495163000),
                               (b"-3", -3), (b"1.5", 1.5), (b".5", 0.5),
                               (b"2e3", 2000), (b"1E-2", 0.01),
                               (b"0xff", 255), (b"7.", 7)]:
            with self.subTest(literal):
                [(_, props)] = kp.parse_directory(b"({'a':{v:%s}})" % literal)
                self.assertEqual(props["v"], value)


@unittest.skipUnless(NODE, "node is not installed")
class EngineTest(TempDir):
    """The text evaluated by a real JS engine: same names, same order."""

    def evaluate(self, text):
        with open(self.path("dir.txt"), "wb") as f:
            f.write(text)
        script = ("var o = eval(require('fs').readFileSync(process.argv[1], "
                  "'latin1')); var r = []; for (var k in o) { var c = []; "
                  "for (var i = 0; i < k.length; i++) c.push(k.charCodeAt(i));"
                  " r.push([c, o[k]]); } console.log(JSON.stringify(r));")
        out = subprocess.run([NODE, "-e", script, self.path("dir.txt")],
                             check=True, capture_output=True).stdout
        return [(bytes(c), v) for c, v in json.loads(out)]

    def test_written_text_evaluates_to_the_parsed_directory(self):
        names = [bytes(range(1, 256)), "\u00e9t\u00e9".encode(), b"it's",
                 b"a\\b", b"10", b"9", b"0", b"01", b"z"]
        entries = [kp.Entry(n, n, 5, {"module": "m\u00e9", "recurse": True})
                   for n in names]
        data = kp.write_package(entries)
        text = zlib.decompress(data[8:8 + struct.unpack(">I", data[:4])[0]])
        evaluated = self.evaluate(text)
        parsed = kp.parse_directory(text)
        self.assertEqual([n for n, _ in evaluated], [n for n, _ in parsed])
        self.assertEqual([n for n, _ in evaluated], canonical(names))
        for (_, value), (_, props) in zip(evaluated, parsed):
            self.assertEqual(value["module"].encode("latin-1"),
                             props["module"])
            self.assertEqual((value["size"], value["csize"], value["time"],
                              value["recurse"]),
                             (props["size"], props["csize"], props["time"],
                              props["recurse"]))

    def test_hand_built_order_that_verify_refuses_is_engine_dependent(self):
        text = b"({'a':{size:1},'7':{size:1},'3':{size:1}})"
        self.assertEqual([n for n, _ in kp.parse_directory(text)],
                         [b"a", b"7", b"3"])
        self.assertEqual([n for n, _ in self.evaluate(text)],
                         [b"3", b"7", b"a"])


FILES = {"scripts/autorun.js": b"a", "scripts/lib/x.js": b"x",
         "web/index.html": b"i", "web/a.txt": b"t", "web/b.txt": b"b",
         "readme.md": b"r", "build/junk.o": b"j", "notes.bak": b"n"}

# (label, manifest, {name: attrs}; names absent were left out)
MANIFESTS = [
    ("no manifest", None, {n: {} for n in FILES}),
    ("defaults", {"defaults": {"module": "app"}},
     {n: {"module": "app"} for n in FILES}),
    ("* stays in one folder, ** crosses folders, exact names, later wins",
     {"defaults": {"module": "app"},
      "entries": {"scripts/*.js": {"module": "boot"},
                  "scripts/**": {"recurse": True},
                  "**/*.txt": {"module": "text", "n": 2},
                  "web/b.txt": {"module": None, "n": 2.5},
                  "[rn]*": {"flag": False}},
      "exclude": ["build/**", "*.bak"]},
     {"scripts/autorun.js": {"module": "boot", "recurse": True},
      "scripts/lib/x.js": {"module": "app", "recurse": True},
      "web/index.html": {"module": "app"},
      "web/a.txt": {"module": "text", "n": 2},
      "web/b.txt": {"n": 2.5},
      "readme.md": {"module": "app", "flag": False}}),
]

BAD_MANIFESTS = [
    ([], "top level must be an object"),
    ({"default": {}}, "unknown key(s) default"),
    ({"defaults": {"size": 1}}, "'size' is reserved"),
    ({"entries": {"a": {"pos": 1}}}, "'pos' is reserved"),
    ({"defaults": {"a-b": 1}}, "'a-b' is not an identifier"),
    ({"defaults": {"__proto__": 1}}, "'__proto__'"),
    ({"defaults": {"m": None}}, "None is not a string, number or boolean"),
    ({"defaults": {"m": [1]}}, "[1] is not a string, number or boolean"),
    ({"entries": {"readme.md": {"m": {}}}}, "is not a string, number"),
    ({"entries": []}, "\"entries\" must be an object"),
    ({"entries": {"a": 1}}, "must be an object of attributes"),
    ({"exclude": "*.bak"}, "\"exclude\" must be a list"),
    ({"entries": {"scripts/autorun.jss": {"m": 1}}},
     "names \"scripts/autorun.jss\", which is not a packed file"),
    ({"entries": {"build/junk.o": {"m": 1}}, "exclude": ["build/**"]},
     "names \"build/junk.o\""),
]


class ManifestTest(TempDir):
    def test_attributes(self):
        for label, manifest, want in MANIFESTS:
            with self.subTest(label):
                code, err, data = self.build(FILES, manifest)
                self.assertEqual(code, 0, err)
                got = {e.name.decode(): e.attrs
                       for e in kp.read_package(data).entries}
                self.assertEqual(got, {n: {k: v.encode() if isinstance(v, str)
                                           else v for k, v in a.items()}
                                       for n, a in want.items()})

    def test_refuses(self):
        for manifest, message in BAD_MANIFESTS:
            with self.subTest(manifest):
                code, err, _ = self.build(FILES, manifest)
                self.assertEqual(code, 1)
                self.assertIn(message, err)

    def test_invalid_json_and_duplicate_keys(self):
        for text, message in [("{", "not valid JSON"),
                              ('{"defaults": {}, "defaults": {}}',
                               'key "defaults" occurs twice')]:
            with self.subTest(text):
                with open(self.path("m.json"), "w") as f:
                    f.write(text)
                with self.assertRaises(kp.PackageError) as cm:
                    kp.load_manifest(self.path("m.json"))
                self.assertIn(message, str(cm.exception))

    def test_pattern_matching_nothing_is_a_warning(self):
        code, err, _ = self.build(FILES, {"entries": {"*.nope": {"m": 1}}})
        self.assertEqual(code, 0)
        self.assertIn('pattern "*.nope" matches no file', err)


class WriterTest(unittest.TestCase):
    def test_refuses(self):
        cases = [
            ("duplicate names", [kp.Entry(b"a", b""), kp.Entry(b"a", b"")],
             "occurs twice"),
            ("__proto__", [kp.Entry(b"__proto__", b"")], "'__proto__'"),
            ("name not bytes", [kp.Entry("a", b"")], "is not bytes"),
            ("time not integer", [kp.Entry(b"a", b"", 1.5)],
             "time 1.5 is not an integer"),
            ("reserved attribute", [kp.Entry(b"a", b"", 0, {"csize": 1})],
             "reserved"),
            ("infinite value", [kp.Entry(b"a", b"", 0,
                                         {"x": float("inf")})],
             "not a finite number"),
        ]
        for label, entries, message in cases:
            with self.subTest(label):
                with self.assertRaises(kp.PackageError) as cm:
                    kp.write_package(entries)
                self.assertIn(message, str(cm.exception))

    def test_package_alone_is_readable(self):
        data = kp.write_package([kp.Entry(b"a", b"alpha", 1000)])
        pkg = kp.read_package(data)
        self.assertEqual((pkg.start, pkg.length), (0, len(data)))
        self.assertEqual(kp.inflate_entry(data, pkg.entries[0]), b"alpha")


class CommandLineTest(TempDir):
    def tool(self, *argv):
        return subprocess.run([TOOL] + list(argv), capture_output=True)

    def test_executable_with_shebang(self):
        self.assertTrue(os.access(TOOL, os.X_OK))
        with open(TOOL, "rb") as f:
            self.assertEqual(f.readline(), b"#!/usr/bin/env python3\n")

    @unittest.skipUnless(POSIX, "runs the script through its shebang")
    def test_build_list_verify_extract(self):
        folder = self.tree({"scripts/autorun.js": b"print(1)\n",
                            "\u00e9.bin": bytes(range(256))})
        exe = self.write("kx4.exe", IMAGE)
        os.chmod(exe, 0o751)
        out = self.path("app.exe")
        r = self.tool("build", "--exe", exe, "--from", folder, "-o", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode(), "%s: 2 entries, package of %d "
                         "bytes at offset %d\n" % (
                             out, os.path.getsize(out) - len(IMAGE),
                             len(IMAGE)))
        self.assertEqual(stat.S_IMODE(os.stat(out).st_mode), 0o751)
        r = self.tool("verify", out)
        self.assertEqual((r.returncode, r.stdout), (0, b"ok: 2 entries\n"))
        r = self.tool("list", out)
        self.assertEqual(r.returncode, 0)
        lines = r.stdout.decode().splitlines()
        self.assertTrue(lines[0].startswith("P=%d L=" % len(IMAGE)))
        self.assertEqual([l.split()[4] for l in lines[2:]],
                         ["scripts/autorun.js", "'\\xc3\\xa9.bin'"])
        r = self.tool("extract", out, "\u00e9.bin")
        self.assertEqual((r.returncode, r.stdout), (0, bytes(range(256))))
        r = self.tool("extract", out, "scripts/autorun.js", "-o",
                      self.path("x.js"))
        with open(self.path("x.js"), "rb") as f:
            self.assertEqual(f.read(), b"print(1)\n")
        r = self.tool("extract", out, "missing.js")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"no entry 'missing.js'", r.stderr)

    def test_packaged_input_needs_replace(self):
        code, err, first = self.build({"a.js": b"old"})
        self.assertEqual(code, 0, err)
        packaged = self.write("packaged.exe", first)
        shutil.rmtree(self.path("app"))
        folder = self.tree({"b.js": b"new"})
        out = self.path("again.exe")
        code, _, err = run("build", "--exe", packaged, "--from", folder,
                           "-o", out, "--time", str(TIME))
        self.assertEqual(code, 1)
        self.assertIn("already has a package (1 entry at offset %d); use "
                      "--replace" % len(IMAGE), err)
        self.assertFalse(os.path.exists(out))
        code, _, err = run("build", "--exe", packaged, "--from", folder,
                           "-o", out, "--time", str(TIME), "--replace")
        self.assertEqual(code, 0, err)
        code, _, _, = run("build", "--exe", self.path("kx4.exe"), "--from",
                          folder, "-o", self.path("plain.exe"), "--time",
                          str(TIME))
        with open(out, "rb") as f, open(self.path("plain.exe"), "rb") as g:
            self.assertEqual(f.read(), g.read())

    def test_damaged_package_at_the_end_of_the_input(self):
        code, err, data = self.build({"a.js": b"a"})
        bad = self.write("bad.exe", data[:len(IMAGE) + 3] + b"\xff"
                         + data[len(IMAGE) + 4:])
        code, _, err = run("build", "--exe", bad, "--from", self.path("app"),
                           "-o", self.path("x.exe"), "--replace")
        self.assertEqual(code, 1)
        self.assertIn("ends with a package trailer but its package is "
                      "damaged", err)

    def test_stray_magic_in_the_program_is_not_a_package(self):
        image = b"\0" * 20000 + MAGIC + b"\0\0\0\1" + b"\0" * 100
        code, err, data = self.build({"a.js": b"a"}, image=image)
        self.assertEqual(code, 0, err)
        self.assertIn("ignoring AB CD AB CD at offset 20000", err)
        self.assertEqual(kp.read_package(data).start, len(image))

    def test_output_inside_the_folder_is_left_out(self):
        folder = self.tree({"a.js": b"a"})
        exe = self.write("kx4.exe", IMAGE)
        out = os.path.join(folder, "app.exe")
        for _ in range(2):
            code, _, err = run("build", "--exe", exe, "--from", folder,
                               "-o", out)
            self.assertEqual(code, 0, err)
        with open(out, "rb") as f:
            names = [e.name for e in kp.read_package(f.read()).entries]
        self.assertEqual(names, [b"a.js"])

    def test_usage_errors(self):
        exe = self.write("kx4.exe", IMAGE)
        cases = [
            (["build", "--exe", exe, "--from", self.path("none"), "-o",
              self.path("o.exe")], 1, "is not a folder"),
            (["build", "--exe", self.path("none.exe"), "--from", self.tmp,
              "-o", self.path("o.exe")], 1, "cannot read"),
            (["build", "--exe", exe, "--from", self.tmp, "-o",
              self.path("o.exe"), "--time", "-1"], 2, "must not be negative"),
            (["verify", exe], 1, "no package: no trailer magic"),
            (["list"], 2, "required"),
        ]
        for argv, want, message in cases:
            with self.subTest(argv):
                code, _, err = run(*argv)
                self.assertEqual(code, want)
                self.assertIn(message, err)


if __name__ == "__main__":
    unittest.main()
