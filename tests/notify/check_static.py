#!/usr/bin/env python3
"""Static checks of a built kx4notify.exe (PE32 or PE32+).

    check_static.py EXE

Passes when the program is a GUI-subsystem executable that imports the
Windows Runtime functions it uses from the api-ms-win-core-winrt sets (and
nowhere else), imports only system DLLs, carries nothing of the engine,
and has its resources: icon group 101 with one 32x32 32-bit image, and a
manifest asking for asInvoker and version 6 of the common controls.
Prints one line per check and exits 0 when all pass, 1 otherwise.
"""

import os
import struct
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "platforms", "win32", "resources"))
import check_resources as kx4res  # noqa: E402  (its PE reader)

RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
WINRT = {
    "api-ms-win-core-winrt-l1-1-0.dll": {"RoInitialize", "RoUninitialize", "RoGetActivationFactory"},
    "api-ms-win-core-winrt-string-l1-1-0.dll": {"WindowsCreateStringReference", "WindowsDeleteString"},
}
SYSTEM = {"kernel32.dll", "msvcrt.dll", "ole32.dll", "shell32.dll", "shlwapi.dll", "user32.dll"} | set(WINRT)
# What the program needs beyond the Windows Runtime, and from where.
NEEDED = {
    "shell32.dll": {"CommandLineToArgvW"},
    "ole32.dll": {"CoCreateInstance", "PropVariantClear"},
    "shlwapi.dll": {"SHStrDupW"},
    "user32.dll": {"SetForegroundWindow", "SendMessageW"},
    "kernel32.dll": {"GetEnvironmentVariableW", "GetFileAttributesW", "K32GetModuleFileNameExW"},
}


class Bad(Exception):
    pass


def headers(data):
    pe, = struct.unpack_from("<I", data, 0x3C)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    subsystem, = struct.unpack_from("<H", data, opt + 68)
    dirs = opt + (96 if magic == 0x10B else 112)
    return magic, subsystem, dirs


def imports(pe, data, dirs):
    """{dll (lower case): set of names}"""
    rva, size = struct.unpack_from("<II", data, dirs + 8)
    wide = pe.kind == "PE32+"
    result = {}
    off = pe.offset(rva)
    while True:
        lookup, _, _, name_rva, first = struct.unpack_from("<IIIII", data, off)
        if not name_rva:
            break
        dll = data[pe.offset(name_rva):].split(b"\0", 1)[0].decode().lower()
        names = result.setdefault(dll, set())
        t = pe.offset(lookup or first)
        while True:
            entry, = struct.unpack_from("<Q" if wide else "<I", data, t)
            if not entry:
                break
            if not entry >> (63 if wide else 31):
                hint_name = pe.offset(entry & 0x7FFFFFFF)
                names.add(data[hint_name + 2:].split(b"\0", 1)[0].decode())
            t += 8 if wide else 4
        off += 20
    return result


def check_imports(found):
    other = sorted(set(found) - SYSTEM)
    if other:
        raise Bad("imports non-system DLLs: %s" % ", ".join(other))
    for dll, names in list(WINRT.items()) + list(NEEDED.items()):
        missing = names - found.get(dll, set())
        if missing:
            raise Bad("%s: %s not imported" % (dll, ", ".join(sorted(missing))))
    everything = set().union(*WINRT.values())
    for dll, names in found.items():
        if dll not in WINRT and names & everything:
            raise Bad("%s supplies %s: the runtime must come from the api-ms-win-core-winrt sets"
                      % (dll, ", ".join(sorted(names & everything))))
    return "imports: the Windows Runtime from the api-ms-win-core-winrt sets, system DLLs only"


def check_no_engine(data, found):
    for marker in (b"Duktape", b"duk_", b"initModule", b"HostApi"):
        if marker in data:
            raise Bad("contains %r: engine or SDK linked in" % marker.decode())
    if any(n.startswith("duk_") or n == "initModule" for names in found.values() for n in names):
        raise Bad("imports engine functions")
    return "no engine"


def check_resources(pe):
    tree = pe.resources()
    groups = tree.get(RT_GROUP_ICON, {})
    if list(groups) != [101]:
        raise Bad("icon groups are %s, want 101" % sorted(groups, key=str))
    group = next(iter(groups[101].values()))
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    if kind != 1 or count != 1:
        raise Bad("icon group 101: type %d with %d images, want one icon" % (kind, count))
    _, _, _, _, _, _, _, iid = struct.unpack_from("<BBBBHHIH", group, 6)
    image = next(iter(tree.get(RT_ICON, {}).get(iid, {}).values()), None)
    if image is None:
        raise Bad("icon group 101 names icon %d, which is missing" % iid)
    size = kx4res.icon_image_size(image)
    if size != (32, 32, 32):
        raise Bad("icon of group 101 is %dx%d %d-bit, want 32x32 32-bit" % size)
    manifests = tree.get(RT_MANIFEST, {})
    if list(manifests) != [1]:
        raise Bad("manifest ids are %s, want 1" % sorted(manifests, key=str))
    root = ET.fromstring(next(iter(manifests[1].values())))
    local = kx4res.local
    levels = [e.get("level") for e in root.iter() if local(e.tag) == "requestedExecutionLevel"]
    if levels != ["asInvoker"]:
        raise Bad("execution levels %s, want asInvoker" % levels)
    controls = [e.get("version") for e in root.iter() if local(e.tag) == "assemblyIdentity"
                and e.get("name") == "Microsoft.Windows.Common-Controls"]
    if controls != ["6.0.0.0"]:
        raise Bad("common controls %s, want 6.0.0.0" % controls)
    return "resources: icon 101 32x32 32-bit, manifest asInvoker and common controls 6"


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: check_static.py EXE\n")
        return 2
    path = argv[1]
    try:
        with open(path, "rb") as f:
            data = f.read()
        pe = kx4res.PE(data)
        _, subsystem, dirs = headers(data)
        if subsystem != 2:
            raise Bad("subsystem %d, want 2 (Windows GUI)" % subsystem)
        found = imports(pe, data, dirs)
        parts = [pe.kind + " GUI", check_imports(found), check_no_engine(data, found), check_resources(pe)]
    except (Bad, kx4res.Bad, OSError, struct.error, ET.ParseError, StopIteration) as e:
        print("%s: FAIL: %s" % (path, e))
        return 1
    print("%s: OK: %s" % (path, "; ".join(parts)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
