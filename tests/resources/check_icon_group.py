#!/usr/bin/env python3
"""Checks a Windows executable's resources: the icon group with the given id must hold a 32x32
and a 16x16 image of 16 colours, and every image it names must be there.

    check_icon_group.py EXECUTABLE GROUP_ID
"""

import struct
import sys

from pe_file import NotFound, PeFile

RT_ICON = 3
RT_GROUP_ICON = 14


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
