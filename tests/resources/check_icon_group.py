#!/usr/bin/env python3
"""Checks a Windows executable's resources: the icon group with the given id must hold a 32x32
and a 16x16 image of 16 colours, and every image it names must be there.

    check_icon_group.py EXECUTABLE GROUP_ID

Reads the PE file itself (headers, section table, resource directory), so the check does not
depend on any tool of the platform.
"""

import struct
import sys

RT_ICON = 3
RT_GROUP_ICON = 14


class NotFound(Exception):
    pass


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise NotFound("not an executable (no MZ header)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotFound("not a PE file")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic != 0x20B:
            raise NotFound("not a 64-bit (PE32+) executable")
        # The resource table is the third data directory of a PE32+ optional header.
        self.resource_rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(size, raw_size), raw))
        if self.resource_rva == 0:
            raise NotFound("no resources")

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise NotFound("address %#x is in no section" % rva)

    def entries(self, directory):
        """(id, offset of the entry's target, is a directory) for each id entry."""
        named, ids = struct.unpack_from("<HH", self.data, directory + 12)
        base = self.offset(self.resource_rva)
        for i in range(named, named + ids):
            ident, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            yield ident, base + (target & 0x7FFFFFFF), bool(target & 0x80000000)

    def find(self, resource_type, ident):
        """The data of the first language of a resource, by type and id."""
        level = self.offset(self.resource_rva)
        for wanted in (resource_type, ident):
            for entry_id, target, is_directory in self.entries(level):
                if entry_id == wanted and is_directory:
                    level = target
                    break
            else:
                raise NotFound("no resource of type %d and id %d" % (resource_type, ident))
        for _, target, is_directory in self.entries(level):
            if not is_directory:
                rva, size = struct.unpack_from("<II", self.data, target)
                return self.data[self.offset(rva):self.offset(rva) + size]
        raise NotFound("resource %d/%d has no data" % (resource_type, ident))


def check(path, group_id):
    with open(path, "rb") as executable:
        pe = PeFile(executable.read())
    group = pe.find(RT_GROUP_ICON, group_id)
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    if reserved != 0 or kind != 1:
        raise NotFound("icon group %d is malformed" % group_id)
    images = set()
    for i in range(count):
        width, height, colours, _, planes, bits, size, image_id = struct.unpack_from(
            "<BBBBHHIH", group, 6 + 14 * i)
        pe.find(RT_ICON, image_id)  # the image the group names must be there
        images.add((width or 256, height or 256, colours, bits))
    wanted = {(32, 32, 16, 4), (16, 16, 16, 4)}
    if not wanted <= images:
        raise NotFound("icon group %d holds %s, not a 32x32 and a 16x16 image of 16 colours"
                       % (group_id, sorted(images)))


def main():
    if len(sys.argv) != 3:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    try:
        check(sys.argv[1], int(sys.argv[2]))
    except (NotFound, OSError, struct.error) as problem:
        print("%s: %s" % (sys.argv[1], problem), file=sys.stderr)
        return 1
    print("%s: icon group %s holds the 32x32 and 16x16 images" % (sys.argv[1], sys.argv[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
