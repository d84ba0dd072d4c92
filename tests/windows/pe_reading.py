"""The parts of a PE file the checks look at, read with pefile (Debian's python3-pefile)."""

import pefile

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24


def load(path):
    return pefile.PE(str(path))


def imports(pe):
    """Sorted (dll, function) pairs; an import by ordinal shows as "#N"."""
    pairs = set()
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode("ascii")
        for symbol in entry.imports:
            name = symbol.name.decode("ascii") if symbol.name else "#%d" % symbol.ordinal
            pairs.add((dll, name))
    return sorted(pairs)


def resource(pe, kind, ident):
    """The bytes of resource `ident` of type `kind` (first language), or b"" when absent."""
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for type_entry in directory.entries if directory else []:
        if type_entry.id != kind:
            continue
        for name_entry in type_entry.directory.entries:
            if name_entry.id != ident:
                continue
            data = name_entry.directory.entries[0].data.struct
            return pe.get_data(data.OffsetToData, data.Size)
    return b""


def version_strings(pe):
    """The StringFileInfo values, as text."""
    values = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                for key, value in table.entries.items():
                    values[key.decode("utf-8")] = value.decode("utf-8")
    return values


def fixed_versions(pe):
    """(file version, product version) of VS_FIXEDFILEINFO, as four-number tuples."""
    fixed = pe.VS_FIXEDFILEINFO[0]

    def split(high, low):
        return (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
    return (split(fixed.FileVersionMS, fixed.FileVersionLS),
            split(fixed.ProductVersionMS, fixed.ProductVersionLS))


def security_directory(pe):
    """(offset, size) of the Authenticode signature; (0, 0) when the file is unsigned."""
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    return entry.VirtualAddress, entry.Size
