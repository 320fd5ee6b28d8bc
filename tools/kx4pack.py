#!/usr/bin/env python3
"""kx4pack: write, list, verify and unpack the package appended to kx4.exe.

Commands:
  build   --exe kx4.exe --from FOLDER [--manifest M.json] [--time MS]
          [--replace] -o OUT.exe
  list    PACKAGED.exe
  verify  PACKAGED.exe
  extract PACKAGED.exe NAME [-o FILE]

The module doubles as a library: write_package(entries) -> bytes,
find_trailer(data) -> offset or None, read_package(data) -> Package,
inflate_entry(data, entry) -> bytes. Standard library only, so it runs on
any build machine with Python 3.7 or later.

A packaged executable ends with:

  program image (P bytes) | C | U | directory stream (C bytes)
  | entry streams, back to back in directory order | AB CD AB CD | L

C, U and L are unsigned 32-bit big-endian; L counts from C to the end of L.
The directory inflates to U bytes of 8-bit script text that the runtime
evaluates, so the writer emits plain ASCII and the reader accepts exactly
the literal subset that such a text is made of, without evaluating it.
"""

import argparse
import json
import os
import re
import stat
import struct
import sys
import tempfile
import zlib
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple, Union

MAGIC = b"\xab\xcd\xab\xcd"
SEARCH_SPAN = 10000          # the runtime looks for the magic this far back
HEADER_LEN = 8               # C and U
TRAILER_LEN = 8              # magic and L
MIN_PACKAGE_LEN = HEADER_LEN + TRAILER_LEN
MAX_FILE_LEN = 2 ** 31 - 1   # the runtime holds offsets in signed 32 bits
MAX_ENTRIES = 100000         # the runtime lists at most this many entries
RESERVED_ATTRS = ("size", "csize", "time", "pos")
IDENTIFIER = re.compile(r"[A-Za-z_$][A-Za-z0-9_$]*\Z")
ARRAY_INDEX = re.compile(rb"(?:0|[1-9][0-9]*)\Z")

AttrValue = Union[bytes, str, bool, int, float]


class PackageError(Exception):
    """A package that cannot be read, or an entry that cannot be written."""


@dataclass
class Entry:
    """One file to be written: name as bytes, content, time in ms."""
    name: bytes
    data: bytes
    time: int = 0
    attrs: Dict[str, AttrValue] = field(default_factory=dict)


@dataclass
class DirEntry:
    """One entry as a package's directory lists it."""
    name: bytes
    size: int
    csize: int
    pos: int
    time: Optional[Union[int, float]] = None
    attrs: Dict[str, AttrValue] = field(default_factory=dict)


@dataclass
class Package:
    file_len: int
    trailer: int      # T, offset of the magic
    start: int        # P
    length: int       # L
    csize: int        # C
    usize: int        # U
    text: bytes
    entries: List[DirEntry]

    @property
    def streams_end(self) -> int:
        return self.start + HEADER_LEN + self.csize + sum(
            e.csize for e in self.entries)

    def entry(self, name: bytes) -> Optional[DirEntry]:
        for e in self.entries:
            if e.name == name:
                return e
        return None


# ---------------------------------------------------------------- writing


def js_string(raw: bytes, quote: str = "'") -> str:
    """A JS string literal whose characters are the bytes of raw.

    Everything outside printable ASCII becomes \\xHH, so the text stays
    8-bit safe and the runtime sees one character per byte whatever it
    does with the high half of the code page.
    """
    out = [quote]
    for b in raw:
        c = chr(b)
        if c == "\\":
            out.append("\\\\")
        elif c == quote:
            out.append("\\" + quote)
        elif 0x20 <= b <= 0x7E:
            out.append(c)
        else:
            out.append("\\x%02x" % b)
    out.append(quote)
    return "".join(out)


def js_value(value: AttrValue) -> str:
    """An attribute value as a JS literal. Text values are UTF-8 bytes."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        if value != value or value in (float("inf"), float("-inf")):
            raise PackageError("attribute value %r is not a finite number"
                               % value)
        if value.is_integer() and abs(value) < 2 ** 53:
            return str(int(value))
        return repr(value)
    if isinstance(value, str):
        return js_string(value.encode("utf-8", "surrogateescape"), '"')
    if isinstance(value, bytes):
        return js_string(value, '"')
    raise PackageError("attribute value %r is not a string, number or boolean"
                       % (value,))


def check_attr_name(name: str) -> None:
    if not isinstance(name, str) or not IDENTIFIER.match(name):
        raise PackageError("attribute name %r is not an identifier" % (name,))
    if name in RESERVED_ATTRS:
        raise PackageError("attribute name %r is reserved (the package sets %s)"
                           % (name, ", ".join(RESERVED_ATTRS)))
    if name == "__proto__":
        raise PackageError("attribute name '__proto__' would set the entry's "
                           "prototype instead of a property")


def is_array_index(name: bytes) -> bool:
    return bool(ARRAY_INDEX.match(name)) and int(name) < 2 ** 32 - 1


def entry_order_key(name: bytes) -> Tuple[int, int, bytes]:
    """Array-index names ascending first, then the rest by bytes.

    Engines disagree on how they enumerate object keys that look like array
    indices (some list them first, numerically). Writing them first, in
    that order, makes insertion order and numeric order coincide, so the
    runtime computes the same stream positions on any engine.
    """
    if is_array_index(name):
        return (0, int(name), b"")
    return (1, 0, name)


def directory_text(items: List[Tuple[bytes, int, int, int,
                                     Dict[str, AttrValue]]]) -> bytes:
    """items: (name, size, csize, time, attrs) in package order."""
    parts = []
    for name, size, csize, time, attrs in items:
        props = ["size:%d" % size, "csize:%d" % csize, "time:%d" % time]
        props += ["%s:%s" % (k, js_value(v)) for k, v in attrs.items()]
        parts.append("%s:{%s}" % (js_string(name), ", ".join(props)))
    return ("({" + ", ".join(parts) + "})").encode("ascii")


def write_package(entries: List[Entry]) -> bytes:
    """The package bytes (C through L) for entries, in canonical order."""
    seen = set()
    for e in entries:
        if not isinstance(e.name, bytes):
            raise PackageError("entry name %r is not bytes" % (e.name,))
        if e.name in seen:
            raise PackageError("entry name %s occurs twice" % js_string(e.name))
        seen.add(e.name)
        if e.name == b"__proto__":
            raise PackageError("entry name '__proto__' would set the "
                               "directory's prototype instead of an entry")
        if isinstance(e.time, bool) or not isinstance(e.time, int):
            raise PackageError("entry %s: time %r is not an integer"
                               % (js_string(e.name), e.time))
        for k, v in e.attrs.items():
            check_attr_name(k)
            js_value(v)
    if len(entries) > MAX_ENTRIES:
        raise PackageError("%d entries: the runtime reads at most %d"
                           % (len(entries), MAX_ENTRIES))
    ordered = sorted(entries, key=lambda e: entry_order_key(e.name))
    streams = []
    items = []
    for e in ordered:
        stream = zlib.compress(e.data, zlib.Z_DEFAULT_COMPRESSION)
        if len(e.data) > MAX_FILE_LEN:
            raise PackageError("entry %s: %d bytes is too large"
                               % (js_string(e.name), len(e.data)))
        streams.append(stream)
        items.append((e.name, len(e.data), len(stream), e.time, e.attrs))
    text = directory_text(items)
    dstream = zlib.compress(text, zlib.Z_DEFAULT_COMPRESSION)
    body = [struct.pack(">II", len(dstream), len(text)), dstream] + streams
    length = sum(len(b) for b in body) + TRAILER_LEN
    if length > MAX_FILE_LEN:
        raise PackageError("package of %d bytes is too large (limit %d)"
                           % (length, MAX_FILE_LEN))
    body += [MAGIC, struct.pack(">I", length)]
    return b"".join(body)


# ---------------------------------------------------------------- reading


def find_trailer(data: bytes) -> Optional[int]:
    """Offset of the trailer's magic, found the way the runtime finds it.

    First the last 8 bytes; otherwise the first AB CD AB CD lying wholly in
    the last 10000 bytes. A file shorter than that has a package only when
    its trailer is its last 8 bytes.
    """
    n = len(data)
    if n >= TRAILER_LEN and data[n - TRAILER_LEN:n - 4] == MAGIC:
        return n - TRAILER_LEN
    if n < SEARCH_SPAN:
        return None
    i = data.find(MAGIC, n - SEARCH_SPAN)
    return i if i >= 0 else None


def _inflate_exact(chunk: bytes, expected: int, what: str,
                   size_name: str, stream_name: str) -> bytes:
    """Inflate one zlib stream that must fill chunk and give expected bytes."""
    d = zlib.decompressobj()
    try:
        # One byte over the limit is enough to tell "too long" apart, and
        # keeps a damaged size field from inflating without bound.
        out = d.decompress(chunk, expected + 1)
    except zlib.error as exc:
        raise PackageError("%s does not inflate: %s" % (what, exc))
    if len(out) > expected:
        raise PackageError("%s inflates to more than %s=%d bytes"
                           % (what, size_name, expected))
    if not d.eof:
        raise PackageError("%s is cut off: its %s=%d bytes hold an incomplete "
                           "zlib stream (%d bytes inflated)"
                           % (what, stream_name, len(chunk), len(out)))
    if d.unused_data:
        raise PackageError("%s ends after %d of its %s=%d bytes"
                           % (what, len(chunk) - len(d.unused_data),
                              stream_name, len(chunk)))
    if len(out) != expected:
        raise PackageError("%s inflates to %d bytes, not %s=%d"
                           % (what, len(out), size_name, expected))
    return out


def read_package(data: bytes, check_end: bool = True) -> Package:
    """Locate and parse the package at the end of data.

    Raises PackageError when there is none or its frame or directory is
    damaged. Entry streams are located but not inflated (inflate_entry).
    With check_end, every stream must lie before the trailer and together
    they must end exactly at it.
    """
    n = len(data)
    if n > MAX_FILE_LEN:
        raise PackageError("file is %d bytes; the runtime reads at most %d"
                           % (n, MAX_FILE_LEN))
    t = find_trailer(data)
    if t is None:
        raise PackageError(
            "no package: no trailer magic AB CD AB CD in the last 8 bytes%s"
            % (" or anywhere in the last %d bytes" % SEARCH_SPAN
               if n >= SEARCH_SPAN else
               " (file of %d bytes, shorter than %d, so no search)"
               % (n, SEARCH_SPAN)))
    if t + TRAILER_LEN > n:
        raise PackageError("trailer magic at offset %d: the package length "
                           "after it is cut off by the end of the file "
                           "(%d bytes)" % (t, n))
    (length,) = struct.unpack_from(">I", data, t + 4)
    start = t + TRAILER_LEN - length
    if length < MIN_PACKAGE_LEN:
        raise PackageError("package length L=%d (trailer at offset %d) is "
                           "below the minimum of %d"
                           % (length, t, MIN_PACKAGE_LEN))
    if start < 0:
        raise PackageError("package length L=%d reaches %s before the "
                           "start of the file (trailer at offset %d)"
                           % (length, _count(-start, "byte"), t))
    csize, usize = struct.unpack_from(">II", data, start)
    dpos = start + HEADER_LEN
    if dpos + csize > t:
        raise PackageError("directory stream C=%d at offset %d runs %s "
                           "past the trailer at offset %d"
                           % (csize, dpos, _count(dpos + csize - t, "byte"),
                              t))
    text = _inflate_exact(data[dpos:dpos + csize], usize,
                          "directory stream", "U", "C")
    try:
        parsed = parse_directory(text)
    except PackageError as exc:
        raise PackageError("directory text: %s" % exc)
    if len(parsed) > MAX_ENTRIES:
        raise PackageError("directory lists %d entries; the runtime reads at "
                           "most %d" % (len(parsed), MAX_ENTRIES))
    entries = []
    pos = dpos + csize
    for name, props in parsed:
        label = "entry %s" % js_string(name)
        attrs = dict(props)
        numbers = {}
        for key in ("size", "csize"):
            if key not in attrs:
                raise PackageError("%s has no %s" % (label, key))
            v = attrs.pop(key)
            if (isinstance(v, bool) or not isinstance(v, (int, float))
                    or v != int(v) or not 0 <= v <= MAX_FILE_LEN):
                raise PackageError("%s: %s is %s, not a whole number from 0 "
                                   "to %d" % (label, key, _show(v),
                                              MAX_FILE_LEN))
            numbers[key] = int(v)
        time = attrs.pop("time", None)
        if time is not None and (isinstance(time, bool)
                                 or not isinstance(time, (int, float))):
            raise PackageError("%s: time is %s, not a number"
                               % (label, _show(time)))
        attrs.pop("pos", None)   # the runtime overwrites it
        entries.append(DirEntry(name, numbers["size"], numbers["csize"], pos,
                                time, attrs))
        pos += numbers["csize"]
    pkg = Package(n, t, start, length, csize, usize, text, entries)
    if check_end:
        for e in entries:
            check_entry_extent(pkg, e)
        check_streams_end(pkg)
    return pkg


def check_entry_extent(pkg: Package, e: DirEntry) -> None:
    if e.pos + e.csize > pkg.trailer:
        raise PackageError("entry %s: its stream (offset %d, csize=%d) runs "
                           "%s past the trailer at offset %d"
                           % (js_string(e.name), e.pos, e.csize,
                              _count(e.pos + e.csize - pkg.trailer, "byte"),
                              pkg.trailer))


def check_streams_end(pkg: Package) -> None:
    end = pkg.streams_end
    if end != pkg.trailer:
        raise PackageError(
            "entry streams end at offset %d but the trailer is at offset %d: "
            "the csize values add up to %d, the space between directory and "
            "trailer is %d bytes"
            % (end, pkg.trailer, end - (pkg.start + HEADER_LEN + pkg.csize),
               pkg.trailer - (pkg.start + HEADER_LEN + pkg.csize)))


def check_entry_order(pkg: Package) -> None:
    """Array-index names must come first, ascending (see entry_order_key)."""
    last_index = -1
    other = None
    for e in pkg.entries:
        if not is_array_index(e.name):
            other = other or e.name
            continue
        if other is not None:
            raise PackageError(
                "entry %s looks like an array index but is listed after %s: "
                "engines that enumerate such names first would compute other "
                "stream positions (list array-index names first, ascending)"
                % (js_string(e.name), js_string(other)))
        if int(e.name) < last_index:
            raise PackageError(
                "entry %s looks like an array index but is listed after '%d': "
                "engines that enumerate such names numerically would compute "
                "other stream positions" % (js_string(e.name), last_index))
        last_index = int(e.name)


def inflate_entry(data: bytes, entry: DirEntry) -> bytes:
    chunk = data[entry.pos:entry.pos + entry.csize]
    return _inflate_exact(chunk, entry.size,
                          "entry %s" % js_string(entry.name), "size", "csize")


def _count(n: int, one: str, many: Optional[str] = None) -> str:
    return "%d %s" % (n, one if n == 1 else (many or one + "s"))


def _show(v) -> str:
    if isinstance(v, (bytes, str, bool, int, float)):
        try:
            return js_value(v)
        except PackageError:
            pass
    return repr(v)


# ------------------------------------------------------- directory parser


class _Parser:
    """Parser of the literal subset a directory text is made of.

    ( { 'name' : { key : value, ... }, ... } )  with names in single or
    double quotes, keys as identifiers or quoted, values as strings,
    numbers, true or false, JS whitespace anywhere between tokens, and an
    optional trailing comma in each object as JS allows. Anything else
    (comments, calls, nested objects in attributes, ...) is refused rather
    than guessed at: the runtime would evaluate it as code.
    """

    WS = " \t\n\r\x0b\x0c\xa0"
    NUMBER = re.compile(r"-?(?:0[xX][0-9a-fA-F]+|"
                        r"(?:0|[1-9][0-9]*)(?:\.[0-9]*)?(?:[eE][+-]?[0-9]+)?|"
                        r"\.[0-9]+(?:[eE][+-]?[0-9]+)?)")
    IDENT = re.compile(r"[A-Za-z_$][A-Za-z0-9_$]*")
    SIMPLE_ESCAPES = {"b": "\b", "f": "\f", "n": "\n", "r": "\r", "t": "\t",
                      "v": "\x0b"}

    def __init__(self, text: bytes):
        # latin-1 maps each byte to the character of the same code
        self.s = text.decode("latin-1")
        self.i = 0

    def fail(self, msg: str, at: Optional[int] = None):
        at = self.i if at is None else at
        if at >= len(self.s):
            found = "end of text"
        else:
            found = "%r" % self.s[at:at + 12]
        raise PackageError("offset %d: %s, found %s" % (at, msg, found))

    def ws(self):
        while self.i < len(self.s) and self.s[self.i] in self.WS:
            self.i += 1

    def peek(self) -> str:
        return self.s[self.i] if self.i < len(self.s) else ""

    def expect(self, ch: str, what: str):
        self.ws()
        if self.peek() != ch:
            self.fail("expected %s" % what)
        self.i += 1

    def string(self) -> bytes:
        quote = self.peek()
        start = self.i
        self.i += 1
        out = []
        while True:
            if self.i >= len(self.s):
                self.fail("unterminated string", start)
            c = self.s[self.i]
            self.i += 1
            if c == quote:
                return "".join(out).encode("latin-1")
            if c in "\n\r":
                self.fail("line break inside a string", self.i - 1)
            if c != "\\":
                out.append(c)
                continue
            if self.i >= len(self.s):
                self.fail("unterminated string", start)
            c = self.s[self.i]
            self.i += 1
            if c in self.SIMPLE_ESCAPES:
                out.append(self.SIMPLE_ESCAPES[c])
            elif c in "xu":
                digits = 2 if c == "x" else 4
                h = self.s[self.i:self.i + digits]
                if len(h) != digits or not all(
                        ch in "0123456789abcdefABCDEF" for ch in h):
                    self.fail("bad \\%s escape" % c, self.i - 2)
                code = int(h, 16)
                if code > 0xFF:
                    self.fail("\\u escape beyond 8 bits (names and values "
                              "are byte strings)", self.i - 2)
                out.append(chr(code))
                self.i += digits
            elif c == "0" and not self.peek().isdigit():
                out.append("\0")
            elif c in "0123456789":
                self.fail("octal escape", self.i - 2)
            elif c == "\r":
                if self.peek() == "\n":
                    self.i += 1
            elif c == "\n":
                pass                 # line continuation
            else:
                out.append(c)        # \' \" \\ and any other char itself

    def value(self) -> AttrValue:
        self.ws()
        c = self.peek()
        if c in "'\"":
            return self.string()
        m = self.NUMBER.match(self.s, self.i)
        if m:
            end = m.end()
            if end < len(self.s) and (self.s[end].isalnum()
                                      or self.s[end] in "_$."):
                self.fail("malformed number", self.i)
            tok = m.group(0)
            self.i = end
            body = tok.lstrip("-")
            if body[:2] in ("0x", "0X"):
                v = int(body, 16)
            elif re.fullmatch(r"[0-9]+", body):
                v = int(body)
            else:
                v = float(body)
                if v.is_integer() and abs(v) < 2 ** 53:
                    v = int(v)
            return -v if tok.startswith("-") else v
        m = self.IDENT.match(self.s, self.i)
        if m and m.group(0) in ("true", "false"):
            self.i = m.end()
            return m.group(0) == "true"
        self.fail("expected a string, number, true or false")

    def key(self, quoted_only: bool) -> bytes:
        self.ws()
        at = self.i
        if self.peek() in "'\"":
            k = self.string()
        else:
            m = self.IDENT.match(self.s, self.i)
            if quoted_only or not m:
                self.fail("expected a quoted entry name" if quoted_only
                          else "expected a property name")
            k = m.group(0).encode("latin-1")
            self.i = m.end()
        if k == b"__proto__":
            self.fail("'__proto__' would set a prototype, not a property", at)
        return k

    def members(self, parse_value, quoted_only: bool):
        """{ key : value, ... } as a list of (key, value, offset)."""
        self.expect("{", "'{'")
        out = []
        seen = set()
        while True:
            self.ws()
            if self.peek() == "}":
                self.i += 1
                return out
            at = self.i
            k = self.key(quoted_only)
            if k in seen:
                self.fail("duplicate name %s" % js_string(k), at)
            seen.add(k)
            self.expect(":", "':' after %s" % js_string(k))
            out.append((k, parse_value()))
            self.ws()
            if self.peek() == ",":
                self.i += 1
            elif self.peek() != "}":
                self.fail("expected ',' or '}'")

    def entry_object(self) -> Dict[str, AttrValue]:
        self.ws()
        if self.peek() != "{":
            self.fail("expected an entry object '{...}'")
        return {k.decode("latin-1"): v
                for k, v in self.members(self.value, quoted_only=False)}

    def directory(self) -> List[Tuple[bytes, Dict[str, AttrValue]]]:
        self.expect("(", "'(' opening the directory")
        entries = self.members(self.entry_object, quoted_only=True)
        self.expect(")", "')' closing the directory")
        self.ws()
        if self.i != len(self.s):
            self.fail("text after the directory")
        return entries


def parse_directory(text: bytes) -> List[Tuple[bytes, Dict[str, AttrValue]]]:
    """Entries (name, properties) in the order the text lists them."""
    return _Parser(text).directory()


# ------------------------------------------------------------- manifest


def glob_regex(pattern: str):
    """'*' and '?' stay within one path segment, '**' crosses them,
    '[...]' is a character class ('[!...]' negated)."""
    out = []
    i = 0
    while i < len(pattern):
        if pattern.startswith("**/", i):
            out.append("(?:.*/)?")
            i += 3
        elif pattern.startswith("**", i):
            out.append(".*")
            i += 2
        elif pattern[i] == "*":
            out.append("[^/]*")
            i += 1
        elif pattern[i] == "?":
            out.append("[^/]")
            i += 1
        elif pattern[i] == "[":
            j = pattern.find("]", i + 2)
            if j < 0:
                out.append(re.escape("["))
                i += 1
                continue
            body = pattern[i + 1:j]
            neg = body.startswith("!")
            if neg:
                body = body[1:]
            body = body.replace("\\", "\\\\").replace("^", "\\^")
            out.append("(?!/)[%s%s]" % ("^" if neg else "", body))
            i = j + 1
        else:
            out.append(re.escape(pattern[i]))
            i += 1
    return re.compile("".join(out) + r"\Z", re.S)


def is_glob(key: str) -> bool:
    return any(c in key for c in "*?[")


class Manifest:
    """{"defaults": {attr: value}, "entries": {name-or-glob: {attr: value}},
    "exclude": [glob, ...]}; rules apply in file order, later ones win, a
    null value removes the attribute."""

    def __init__(self, doc=None, origin: str = "manifest"):
        doc = {} if doc is None else doc
        self.origin = origin
        if not isinstance(doc, dict):
            raise PackageError("%s: top level must be an object" % origin)
        unknown = set(doc) - {"defaults", "entries", "exclude"}
        if unknown:
            raise PackageError("%s: unknown key(s) %s (known: defaults, "
                               "entries, exclude)"
                               % (origin, ", ".join(sorted(unknown))))
        self.defaults = self._attrs(doc.get("defaults", {}), "defaults",
                                    allow_null=False)
        entries = doc.get("entries", {})
        if not isinstance(entries, dict):
            raise PackageError("%s: \"entries\" must be an object" % origin)
        self.rules = []
        for key, attrs in entries.items():
            where = "entries[%s]" % json.dumps(key)
            self.rules.append((key, glob_regex(key) if is_glob(key) else None,
                               self._attrs(attrs, where, allow_null=True)))
        exclude = doc.get("exclude", [])
        if not isinstance(exclude, list) or not all(
                isinstance(p, str) for p in exclude):
            raise PackageError("%s: \"exclude\" must be a list of patterns"
                               % origin)
        self.exclude = [glob_regex(p) for p in exclude]

    def _attrs(self, attrs, where, allow_null):
        if not isinstance(attrs, dict):
            raise PackageError("%s: %s must be an object of attributes"
                               % (self.origin, where))
        for k, v in attrs.items():
            try:
                check_attr_name(k)
                if not (v is None and allow_null):
                    js_value(v)
            except PackageError as exc:
                raise PackageError("%s: %s: %s" % (self.origin, where, exc))
        return attrs

    def excluded(self, name: str) -> bool:
        return any(r.match(name) for r in self.exclude)

    def attrs_for(self, name: str, used: set) -> Dict[str, AttrValue]:
        attrs = dict(self.defaults)
        for key, regex, rule in self.rules:
            if (regex.match(name) if regex else key == name):
                used.add(key)
                for k, v in rule.items():
                    if v is None:
                        attrs.pop(k, None)
                    else:
                        attrs[k] = v
        return attrs


def load_manifest(path: Optional[str]) -> Manifest:
    if path is None:
        return Manifest()

    def no_duplicates(pairs):
        keys = [k for k, _ in pairs]
        for k in keys:
            if keys.count(k) > 1:
                raise PackageError("%s: key %s occurs twice"
                                   % (path, json.dumps(k)))
        return dict(pairs)

    try:
        with open(path, "r", encoding="utf-8") as f:
            doc = json.load(f, object_pairs_hook=no_duplicates)
    except OSError as exc:
        raise PackageError("cannot read manifest: %s" % exc)
    except ValueError as exc:
        raise PackageError("%s: not valid JSON: %s" % (path, exc))
    return Manifest(doc, path)


# ---------------------------------------------------------------- folder


def name_bytes(name: str) -> bytes:
    """Entry names are compared byte for byte: non-ASCII becomes UTF-8
    (on POSIX, surrogateescape gives back a name's bytes as stored)."""
    return name.encode("utf-8", "surrogateescape")


def collect_entries(folder: str, manifest: Manifest,
                    fixed_time: Optional[int] = None,
                    skip: Tuple[str, ...] = (),
                    warn=lambda msg: None) -> List[Entry]:
    """Every regular file under folder (symbolic links to files are read,
    linked folders are not entered), named relative to it with '/'."""
    if not os.path.isdir(folder):
        raise PackageError("%s is not a folder" % folder)
    skip_real = {os.path.realpath(p) for p in skip}
    found = []
    for dirpath, dirnames, filenames in os.walk(folder):
        dirnames.sort()
        for d in dirnames:
            if os.path.islink(os.path.join(dirpath, d)):
                warn("not entering linked folder %s"
                     % os.path.join(dirpath, d))
        for fn in sorted(filenames):
            path = os.path.join(dirpath, fn)
            rel = os.path.relpath(path, folder).replace(os.sep, "/")
            if manifest.excluded(rel):
                continue
            if os.path.realpath(path) in skip_real:
                warn("leaving out %s (the output itself)" % rel)
                continue
            try:
                st = os.stat(path)
            except OSError as exc:
                raise PackageError("cannot read %s: %s" % (path, exc))
            if not stat.S_ISREG(st.st_mode):
                warn("leaving out %s (not a regular file)" % rel)
                continue
            found.append((rel, path, st))
    used = set()
    entries = []
    for rel, path, st in found:
        with open(path, "rb") as f:
            data = f.read()
        # whole seconds, as the runtime reports a file's time
        time = (st.st_mtime_ns // 1000000000 * 1000
                if fixed_time is None else fixed_time)
        entries.append(Entry(name_bytes(rel), data, time,
                             manifest.attrs_for(rel, used)))
    for key, regex, _ in manifest.rules:
        if key in used:
            continue
        if regex is None:
            raise PackageError("%s: entries names %s, which is not a packed "
                               "file under %s"
                               % (manifest.origin, json.dumps(key), folder))
        warn("%s: pattern %s matches no file"
             % (manifest.origin, json.dumps(key)))
    return entries


# ------------------------------------------------------------- commands


def _warn(msg: str) -> None:
    print("kx4pack: warning: %s" % msg, file=sys.stderr)


def _read(path: str) -> bytes:
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as exc:
        raise PackageError("cannot read %s: %s" % (path, exc))


def program_image(exe: bytes, exe_path: str, replace: bool) -> bytes:
    """The executable without a package, or an error if it has one and
    --replace was not given."""
    t = find_trailer(exe)
    if t is None:
        return exe
    try:
        pkg = read_package(exe)
    except PackageError as exc:
        if t == len(exe) - TRAILER_LEN:
            raise PackageError("%s ends with a package trailer but its package "
                               "is damaged (%s); cannot tell where the program "
                               "ends" % (exe_path, exc))
        # A stray AB CD AB CD in the program's last bytes: the new trailer,
        # at the very end, is what the runtime will probe first.
        _warn("%s: ignoring AB CD AB CD at offset %d, not a package trailer"
              % (exe_path, t))
        return exe
    if not replace:
        raise PackageError("%s already has a package (%s at offset %d); use "
                           "--replace to strip it first"
                           % (exe_path, _count(len(pkg.entries), "entry",
                                               "entries"), pkg.start))
    return exe[:pkg.start]


def cmd_build(args) -> int:
    exe = _read(args.exe)
    image = program_image(exe, args.exe, args.replace)
    manifest = load_manifest(args.manifest)
    entries = collect_entries(args.folder, manifest, args.time,
                              skip=(args.output,), warn=_warn)
    package = write_package(entries)
    if len(image) + len(package) > MAX_FILE_LEN:
        raise PackageError("%d bytes in all; the runtime reads at most %d"
                           % (len(image) + len(package), MAX_FILE_LEN))
    out_dir = os.path.dirname(os.path.abspath(args.output))
    fd, tmp = tempfile.mkstemp(prefix=".kx4pack-", dir=out_dir)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(image)
            f.write(package)
        try:
            os.chmod(tmp, stat.S_IMODE(os.stat(args.exe).st_mode))
        except OSError:
            pass
        os.replace(tmp, args.output)
    except BaseException:
        if os.path.exists(tmp):
            os.unlink(tmp)
        raise
    print("%s: %s, package of %d bytes at offset %d"
          % (args.output, _count(len(entries), "entry", "entries"),
             len(package), len(image)))
    return 0


def cmd_list(args) -> int:
    data = _read(args.file)
    pkg = read_package(data)
    print("P=%d L=%d C=%d U=%d trailer=%d file=%d entries=%d"
          % (pkg.start, pkg.length, pkg.csize, pkg.usize, pkg.trailer,
             pkg.file_len, len(pkg.entries)))
    if pkg.entries:
        print("%10s %10s %10s %14s  %s" % ("pos", "size", "csize", "time",
                                           "name [attributes]"))
    for e in pkg.entries:
        time = "-" if e.time is None else _show(e.time)
        extra = "".join(" %s:%s" % (k, _show(v)) for k, v in e.attrs.items())
        print("%10d %10d %10d %14s  %s%s" % (e.pos, e.size, e.csize, time,
                                             display_name(e.name), extra))
    return 0


def display_name(name: bytes) -> str:
    """Plain when it is printable ASCII without spaces, else the literal."""
    if name and all(0x21 <= b <= 0x7E and b not in b"'\"\\" for b in name):
        return name.decode("ascii")
    return js_string(name)


def cmd_verify(args) -> int:
    data = _read(args.file)
    pkg = read_package(data, check_end=False)
    check_entry_order(pkg)
    # Entry by entry, so that a wrong csize is blamed on its own entry
    # rather than on the sum of them all.
    for e in pkg.entries:
        check_entry_extent(pkg, e)
        inflate_entry(data, e)
    check_streams_end(pkg)
    print("ok: %d entries" % len(pkg.entries))
    return 0


def cmd_extract(args) -> int:
    data = _read(args.file)
    pkg = read_package(data)
    name = name_bytes(args.name)
    e = pkg.entry(name)
    if e is None:
        raise PackageError("no entry %s in %s" % (js_string(name), args.file))
    content = inflate_entry(data, e)
    if args.output:
        with open(args.output, "wb") as f:
            f.write(content)
    else:
        sys.stdout.buffer.write(content)
        sys.stdout.flush()
    return 0


def parse_args(argv):
    ap = argparse.ArgumentParser(
        prog="kx4pack",
        description="Write, list, verify and unpack the package appended "
                    "to kx4.exe.")
    sub = ap.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True

    b = sub.add_parser("build", help="append a package made from a folder")
    b.add_argument("--exe", required=True, help="the runtime executable")
    b.add_argument("--from", dest="folder", required=True, metavar="FOLDER",
                   help="folder whose files become the entries")
    b.add_argument("--manifest", help="JSON file of entry attributes")
    b.add_argument("--time", type=int, metavar="MS",
                   help="give every entry this time (ms since 1970) for "
                        "reproducible output")
    b.add_argument("--replace", action="store_true",
                   help="strip a package the executable already has")
    b.add_argument("-o", dest="output", required=True, metavar="OUT",
                   help="packaged executable to write")
    b.set_defaults(run=cmd_build)

    ls = sub.add_parser("list", help="print the package frame and entries")
    ls.add_argument("file")
    ls.set_defaults(run=cmd_list)

    v = sub.add_parser("verify", help="check the package completely")
    v.add_argument("file")
    v.set_defaults(run=cmd_verify)

    x = sub.add_parser("extract", help="write one entry's content")
    x.add_argument("file")
    x.add_argument("name", help="entry name (non-ASCII as UTF-8)")
    x.add_argument("-o", dest="output", metavar="FILE",
                   help="write here instead of standard output")
    x.set_defaults(run=cmd_extract)
    args = ap.parse_args(argv)
    if getattr(args, "time", None) is not None and args.time < 0:
        ap.error("--time must not be negative")
    return args


def main(argv=None) -> int:
    args = parse_args(argv)
    try:
        return args.run(args)
    except PackageError as exc:
        print("kx4pack: %s: %s" % (args.command, exc), file=sys.stderr)
        return 1
    except OSError as exc:
        print("kx4pack: %s: %s" % (args.command, exc), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
