"""Sets the time stamps of Windows executables and libraries to one time.

    python3 scripts/lib/pe_stamp.py SECONDS FILE...

The linker writes none (-Wl,--no-insert-timestamp leaves zeros), so that
builds compare byte for byte; a release carries its commit's time instead,
in the COFF header and in the export directory where there is one.
"""
import struct
import sys

EXPORT_DIRECTORY = 0


def file_offset(image, pe, rva):
    """The file offset of a relative virtual address, through the section table."""
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    table = pe + 24 + optional_size
    for n in range(sections):
        size, address, _, raw = struct.unpack_from("<IIII", image, table + 40 * n + 8)
        if address <= rva < address + size:
            return raw + rva - address
    raise ValueError("address %#x is in no section" % rva)


def stamp(path, seconds):
    with open(path, "r+b") as f:
        image = bytearray(f.read())
        (pe,) = struct.unpack_from("<I", image, 0x3C)
        if image[pe : pe + 4] != b"PE\0\0":
            raise ValueError("%s is not a PE file" % path)
        struct.pack_into("<I", image, pe + 8, seconds)
        optional = pe + 24
        (magic,) = struct.unpack_from("<H", image, optional)
        directories = optional + (112 if magic == 0x20B else 96)
        rva, size = struct.unpack_from("<II", image, directories + 8 * EXPORT_DIRECTORY)
        if size != 0:
            struct.pack_into("<I", image, file_offset(image, pe, rva) + 4, seconds)
        f.seek(0)
        f.write(image)


if __name__ == "__main__":
    for name in sys.argv[2:]:
        stamp(name, int(sys.argv[1]))
