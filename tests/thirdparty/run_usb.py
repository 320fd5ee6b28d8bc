#!/usr/bin/env python3
"""libusb-1.0: usb_list.exe (libusb as its own DLL, as the release ships it)
and usb_list_static.exe (linked in) initialise libusb under wine64, list
the devices (wine has none) and exit cleanly.

    run_usb.py <usb_list.exe> <usb_list_static.exe>"""
import os
import re
import subprocess
import sys

from common import Report, wine_run

VERSION = '1.0.26'


def main():
    dll_exe, static_exe = sys.argv[1:3]
    report = Report('libusb')
    # The DLL build really uses the DLL beside it: the program imports it.
    imports = subprocess.run(['x86_64-w64-mingw32-objdump', '-p', dll_exe], capture_output=True, text=True).stdout
    report.check('usb_list imports libusb-1.0.dll', 'DLL Name: libusb-1.0.dll' in imports)
    report.check('libusb-1.0.dll beside it', os.path.exists(os.path.join(os.path.dirname(dll_exe), 'libusb-1.0.dll')))
    for name, exe in (('dll', dll_exe), ('static', static_exe)):
        rc, out, err = wine_run(exe)
        lines = out.splitlines()
        devices = [l for l in lines if l.startswith('device ')]
        ok = (rc == 0 and lines[:1] == ['version ' + VERSION] and lines[-2:] == ['devices %d' % len(devices), 'exit ok']
              and all(re.fullmatch(r'device \d+ \d+ [0-9a-f]{4}:[0-9a-f]{4}', l) for l in devices))
        report.check('%s: init, list (%d devices), exit' % (name, len(devices)), ok,
                     'exit %d, stdout %r, stderr %r' % (rc, out, err))
    return report.finish()


if __name__ == '__main__':
    sys.exit(main())
