"""Reads where a stream's bytes lie in a compound file (the format of an .msi), so that a
build can change them in place.
"""

import struct


def stream(data, name):
    """The first stream named `name` in the compound file `data`: (where each of its bytes sits
    in `data`, its bytes)."""
    sector_size = 1 << struct.unpack_from("<H", data, 30)[0]
    mini_size = 1 << struct.unpack_from("<H", data, 32)[0]
    first_directory, = struct.unpack_from("<I", data, 48)
    mini_cutoff, first_minifat, minifat_count = struct.unpack_from("<III", data, 56)
    difat = list(struct.unpack_from("<109I", data, 76))
    first_difat, difat_count = struct.unpack_from("<II", data, 68)
    sector_at = lambda n: 512 + n * sector_size if sector_size == 512 else (n + 1) * sector_size
    per_sector = sector_size // 4
    next_difat = first_difat
    for _ in range(difat_count):
        base = sector_at(next_difat)
        difat += struct.unpack_from("<%dI" % (per_sector - 1), data, base)
        next_difat, = struct.unpack_from("<I", data, base + sector_size - 4)
    fat = []
    for sector in difat:
        if sector >= 0xFFFFFFFA:
            continue
        fat += struct.unpack_from("<%dI" % per_sector, data, sector_at(sector))

    def chain(start):
        sectors = []
        while start < 0xFFFFFFFA:
            sectors.append(start)
            start = fat[start]
        return sectors

    directory = b"".join(bytes(data[sector_at(s):sector_at(s) + sector_size])
                         for s in chain(first_directory))
    entries = [directory[i:i + 128] for i in range(0, len(directory), 128)]
    root_start, = struct.unpack_from("<I", entries[0], 116)
    wanted = name.encode("utf-16-le")
    for entry in entries:
        name_length, = struct.unpack_from("<H", entry, 64)
        if entry[:max(name_length - 2, 0)] == wanted:
            start, size = struct.unpack_from("<IQ", entry, 116)
            break
    else:
        raise ValueError("no stream %r in the compound file" % name)
    size &= 0xFFFFFFFF
    # Where each byte of the stream sits in the file.
    if size < mini_cutoff:
        minifat = []
        for sector in chain(first_minifat):
            minifat += struct.unpack_from("<%dI" % per_sector, data, sector_at(sector))
        root_sectors = chain(root_start)
        offsets = []
        mini = start
        while mini < 0xFFFFFFFA:
            at = mini * mini_size
            base = sector_at(root_sectors[at // sector_size]) + at % sector_size
            offsets += range(base, base + mini_size)
            mini = minifat[mini]
    else:
        offsets = [sector_at(s) + i for s in chain(start) for i in range(sector_size)]
    offsets = offsets[:size]
    return offsets, bytearray(data[o] for o in offsets)
