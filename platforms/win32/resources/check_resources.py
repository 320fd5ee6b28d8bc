#!/usr/bin/env python3
"""Check the resources of a built kx4.exe (PE32 or PE32+).

    check_resources.py EXE

Passes when the executable has icon groups 1 to 4 and no others, each with
exactly one 32-bit image (32x32 in group 1, 48x48 in groups 2 to 4) whose
RT_ICON really is that image; a manifest (RT_MANIFEST 1) that requests
asInvoker with uiAccess="false" and has no compatibility section; and no
version resource. Prints one line and exits 0 on success, 1 otherwise.
"""

import struct
import sys
import xml.etree.ElementTree as ET

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

EXPECTED_ICON_SIZES = {1: 32, 2: 48, 3: 48, 4: 48}


class Bad(Exception):
    pass


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise Bad("not an MZ executable")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise Bad("no PE signature")
        nsections, = struct.unpack_from("<H", data, pe + 6)
        opt_size, = struct.unpack_from("<H", data, pe + 20)
        opt = pe + 24
        magic, = struct.unpack_from("<H", data, opt)
        if magic == 0x10B:
            self.kind, dirs = "PE32", opt + 96
        elif magic == 0x20B:
            self.kind, dirs = "PE32+", opt + 112
        else:
            raise Bad("unknown optional header magic 0x%x" % magic)
        ndirs = self.u32(dirs - 4)
        if ndirs > 2:
            self.rsrc_rva, self.rsrc_size = struct.unpack_from("<II", data, dirs + 2 * 8)
        else:
            self.rsrc_rva = self.rsrc_size = 0
        self.sections = []
        table = opt + opt_size
        for i in range(nsections):
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr, rawsize))

    def u32(self, off):
        return struct.unpack_from("<I", self.data, off)[0]

    def offset(self, rva, size=0):
        """File offset of the bytes at rva .. rva+size."""
        for va, vsize, rawptr, rawsize in self.sections:
            if va <= rva and rva + size <= va + vsize:
                if rva + size > va + rawsize:
                    raise Bad("RVA 0x%x lies outside the file" % rva)
                return rawptr + (rva - va)
        raise Bad("RVA 0x%x is in no section" % rva)

    def resources(self):
        """{type: {name: {language: bytes}}}; names and types are ints for
        numeric ids and strings for named entries."""
        if not self.rsrc_rva:
            return {}
        base = self.offset(self.rsrc_rva, self.rsrc_size)

        def entries(off):
            named, ids = struct.unpack_from("<HH", self.data, base + off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + off + 16 + 8 * i)
                if name & 0x80000000:
                    soff = base + (name & 0x7FFFFFFF)
                    length, = struct.unpack_from("<H", self.data, soff)
                    name = self.data[soff + 2:soff + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        def subdir(target):
            if not target & 0x80000000:
                raise Bad("resource directory ends too early")
            return target & 0x7FFFFFFF

        tree = {}
        for rtype, t in entries(0):
            names = tree.setdefault(rtype, {})
            for name, n in entries(subdir(t)):
                langs = names.setdefault(name, {})
                for lang, leaf in entries(subdir(n)):
                    if leaf & 0x80000000:
                        raise Bad("resource directory is too deep")
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    off = self.offset(rva, size)
                    langs[lang] = self.data[off:off + size]
        return tree


def only(langs, what):
    if len(langs) != 1:
        raise Bad("%s exists in %d languages" % (what, len(langs)))
    return next(iter(langs.values()))


def icon_image_size(image):
    """(width, height, bits per pixel) of one RT_ICON image."""
    if image[:8] == b"\x89PNG\r\n\x1a\n":
        w, h, depth, colour = struct.unpack_from(">IIBB", image, 16)
        channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(colour, 0)
        return w, h, depth * channels
    if len(image) < 40:
        raise Bad("icon image too short")
    size, w, h, planes, bpp = struct.unpack_from("<IiiHH", image, 0)
    if size < 40:
        raise Bad("icon image has no bitmap header")
    return w, h // 2, bpp  # the height counts the AND mask too


def check_icons(tree):
    groups = tree.get(RT_GROUP_ICON, {})
    if set(groups) != set(EXPECTED_ICON_SIZES):
        raise Bad("icon groups are %s, want 1, 2, 3, 4"
                  % (", ".join(str(g) for g in sorted(groups, key=str)) or "none"))
    icons = tree.get(RT_ICON, {})
    found = []
    for gid in sorted(groups):
        data = only(groups[gid], "icon group %d" % gid)
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        if kind != 1:
            raise Bad("icon group %d is not an icon group (type %d)" % (gid, kind))
        if count != 1:
            raise Bad("icon group %d has %d images, want 1" % (gid, count))
        w, h, _, _, _, bpp, _, iid = struct.unpack_from("<BBBBHHIH", data, 6)
        w, h = w or 256, h or 256
        want = EXPECTED_ICON_SIZES[gid]
        if (w, h, bpp) != (want, want, 32):
            raise Bad("icon group %d lists a %dx%d %d-bit image, want %dx%d 32-bit"
                      % (gid, w, h, bpp, want, want))
        if iid not in icons:
            raise Bad("icon group %d names icon %d, which is missing" % (gid, iid))
        real = icon_image_size(only(icons[iid], "icon %d" % iid))
        if real != (want, want, 32):
            raise Bad("icon %d of group %d is %dx%d %d-bit, want %dx%d 32-bit"
                      % ((iid, gid) + real + (want, want)))
        found.append("%d:%dx%d" % (gid, w, h))
    return "icons " + " ".join(found) + " 32bpp"


def local(tag):
    return tag.rsplit("}", 1)[-1]


def check_manifest(tree):
    manifests = tree.get(RT_MANIFEST, {})
    if list(manifests) != [1]:
        raise Bad("manifest ids are %s, want exactly 1"
                  % (", ".join(str(m) for m in manifests) or "none"))
    text = only(manifests[1], "manifest")
    if b"compatibility" in text:
        raise Bad("manifest has a compatibility section")
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        raise Bad("manifest is not well-formed XML: %s" % e)
    levels = [e for e in root.iter() if local(e.tag) == "requestedExecutionLevel"]
    if len(levels) != 1:
        raise Bad("manifest has %d requestedExecutionLevel elements, want 1" % len(levels))
    level, ui = levels[0].get("level"), levels[0].get("uiAccess")
    if level != "asInvoker" or ui != "false":
        raise Bad('manifest requests level=%r uiAccess=%r, want "asInvoker" and "false"'
                  % (level, ui))
    return "manifest asInvoker uiAccess=false, no compatibility"


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: check_resources.py EXE\n")
        return 2
    path = argv[1]
    try:
        with open(path, "rb") as f:
            pe = PE(f.read())
        tree = pe.resources()
        parts = [pe.kind, check_icons(tree), check_manifest(tree)]
        if RT_VERSION in tree:
            raise Bad("has a version resource")
        parts.append("no version resource")
    except (Bad, OSError, struct.error, UnicodeDecodeError) as e:
        if isinstance(e, struct.error):
            e = "truncated or malformed file (%s)" % e
        print("%s: FAIL: %s" % (path, e))
        return 1
    print("%s: OK: %s" % (path, "; ".join(parts)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
