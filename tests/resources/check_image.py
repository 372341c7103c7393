#!/usr/bin/env python3
"""Checks that a Windows executable is what it must be to run on a 64-bit Windows machine as
it stands: an x64 image of the given subsystem that needs no DLL beyond those every Windows
has (the C and C++ runtimes are linked in, so nothing has to be installed beside it).

    check_image.py EXECUTABLE gui|console
"""

import struct
import sys

from pe_file import NotFound, PeFile

IMAGE_FILE_MACHINE_AMD64 = 0x8664
SUBSYSTEMS = {"gui": 2, "console": 3}  # IMAGE_SUBSYSTEM_WINDOWS_GUI, IMAGE_SUBSYSTEM_WINDOWS_CUI
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "winspool.drv",
               "msvcrt.dll", "ntdll.dll"}


def check(path, subsystem):
    with open(path, "rb") as executable:
        pe = PeFile(executable.read())
    if pe.machine != IMAGE_FILE_MACHINE_AMD64:
        raise NotFound("built for machine %#x, not x64" % pe.machine)
    if pe.subsystem != SUBSYSTEMS[subsystem]:
        raise NotFound("subsystem %d, not %s (%d)" % (pe.subsystem, subsystem,
                                                      SUBSYSTEMS[subsystem]))
    foreign = [name for name in pe.imported_dlls() if name.lower() not in SYSTEM_DLLS]
    if foreign:
        raise NotFound("needs DLLs that Windows does not have: " + ", ".join(foreign))


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in SUBSYSTEMS:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    try:
        check(sys.argv[1], sys.argv[2])
    except (NotFound, OSError, struct.error, ValueError) as problem:
        print("%s: %s" % (sys.argv[1], problem), file=sys.stderr)
        return 1
    print("%s: an x64 %s program that needs only the system's DLLs" % (sys.argv[1], sys.argv[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
