"""A reader of 64-bit Windows executables (PE32+): headers, sections, the import table and
the resource directory, read from the file itself so that checks depend on no tool of the
platform."""

import struct


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
        self.machine, sections = struct.unpack_from("<HH", data, pe + 4)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic != 0x20B:
            raise NotFound("not a 64-bit (PE32+) executable")
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        # The import and resource tables are the second and third data directories of a PE32+
        # optional header.
        self.import_rva = struct.unpack_from("<I", data, optional + 112 + 1 * 8)[0]
        self.resource_rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(size, raw_size), raw))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise NotFound("address %#x is in no section" % rva)

    def imported_dlls(self):
        """The names of the DLLs the executable imports from, in the table's order."""
        names = []
        if self.import_rva == 0:
            return names
        descriptor = self.offset(self.import_rva)
        while True:
            name_rva = struct.unpack_from("<I", self.data, descriptor + 12)[0]
            if name_rva == 0:
                return names
            start = self.offset(name_rva)
            names.append(self.data[start:self.data.index(b"\0", start)].decode("ascii"))
            descriptor += 20

    def entries(self, directory):
        """(id, offset of the entry's target, is a directory) for each id entry."""
        named, ids = struct.unpack_from("<HH", self.data, directory + 12)
        base = self.offset(self.resource_rva)
        for i in range(named, named + ids):
            ident, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            yield ident, base + (target & 0x7FFFFFFF), bool(target & 0x80000000)

    def find(self, resource_type, ident):
        """The data of the first language of a resource, by type and id."""
        if self.resource_rva == 0:
            raise NotFound("no resources")
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
