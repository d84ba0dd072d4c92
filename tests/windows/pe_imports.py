"""The import table of a PE file, read from i686-w64-mingw32-objdump -p."""

import re
import subprocess

OBJDUMP = "i686-w64-mingw32-objdump"


def objdump_private_headers(path):
    return subprocess.run([OBJDUMP, "-p", str(path)], check=True, stdout=subprocess.PIPE,
                          text=True).stdout


def imports(path):
    """Sorted (dll, function) pairs; an import by ordinal shows as "#N"."""
    pairs = set()
    dll = None
    for line in objdump_private_headers(path).splitlines():
        named = re.match(r"\s*DLL Name: (\S+)", line)
        if named:
            dll = named.group(1)
            continue
        if dll is None:
            continue
        entry = re.match(r"\s*[0-9a-f]+\s+(\d+)\s+(\S+)\s*$", line)
        if entry:
            pairs.add((dll, entry.group(2)))
            continue
        ordinal = re.match(r"\s*[0-9a-f]+\s+<none>\s+(\d+)", line)
        if ordinal:
            pairs.add((dll, "#" + ordinal.group(1)))
            continue
        if line.strip() == "" or line.lstrip().startswith("vma:"):
            continue
        dll = None
    return sorted(pairs)
