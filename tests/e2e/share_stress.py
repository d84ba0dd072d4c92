#!/usr/bin/env python3
"""Whether what one side of the work tree writes is what the other reads, whatever runs beside.

  share_stress.py FOLDER [ROUNDS]    prints the mismatches and exits 1 when there is any

Two requests run at once where Windows programs run: one writes files of growing size for the
whole run, while for each round another starts, waits until that round's files are marked whole
and reads them back; meanwhile this side writes files of its own for the same readers. Each file
is written whole and closed before its marker says so, and read only after its marker is seen,
so every byte must be read as written, however requests start and end around it.
"""

import hashlib
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve()
STEP = 16 * 1024 + 7


def content(writer, number):
    """A file's bytes: its size grows with the round, and no two files are alike."""
    seed = hashlib.sha256(b"%s %d" % (writer.encode(), number)).digest()
    size = STEP * (number + 1)
    return (seed * (size // len(seed) + 1))[:size]


def write(folder, writer, numbers):
    for number in numbers:
        data = content(writer, number)
        with open(folder / ("%s-%d.bin" % (writer, number)), "wb") as out:
            out.write(data)
        with open(folder / ("%s-%d.done" % (writer, number)), "w") as out:
            out.write("%d\n" % len(data))


def read(folder, writers, number, limit=300):
    """The mismatches of one round's files, which are then removed."""
    mismatches = 0
    deadline = time.monotonic() + limit
    for writer in writers:
        marker = folder / ("%s-%d.done" % (writer, number))
        while not marker.exists():
            if time.monotonic() > deadline:
                print("%s %d: never marked whole" % (writer, number))
                return mismatches + 1
            time.sleep(0.01)
        got = (folder / ("%s-%d.bin" % (writer, number))).read_bytes()
        want = content(writer, number)
        if got != want:
            mismatches += 1
            print("%s %d: read %d bytes, want %d%s" % (
                writer, number, len(got), len(want),
                "" if len(got) != len(want) else " (other bytes)"))
        for suffix in (".bin", ".done"):
            (folder / ("%s-%d%s" % (writer, number, suffix))).unlink()
    return mismatches


def main(argv):
    if argv[:1] == ["write"]:
        write(Path(argv[1]), argv[2], range(int(argv[3])))
        return 0
    if argv[:1] == ["read"]:
        mismatches = read(Path(argv[1]), argv[2].split(","), int(argv[3]))
        print("round %s: %d mismatches" % (argv[3], mismatches))
        return 1 if mismatches else 0
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    sys.path.insert(0, str(HERE.parent))
    import windows_runner

    folder = Path(argv[0]).resolve()
    rounds = int(argv[1]) if len(argv) > 1 else 100
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.iterdir():
        old.unlink()
    written = {}

    def write_in_guest():
        written["writer"] = windows_runner.run(
            ["python3", str(HERE), "write", str(folder), "guest", str(rounds)], timeout=900)

    writer = threading.Thread(target=write_in_guest)
    writer.start()
    mismatched = 0
    for number in range(rounds):
        write(folder, "host", [number])
        completed = windows_runner.run(
            ["python3", str(HERE), "read", str(folder), "guest,host", str(number)], timeout=600)
        if completed.returncode != 0:
            mismatched += 1
            sys.stdout.write(completed.stdout.decode("utf-8", "replace"))
    writer.join()
    print("%d rounds, 2 files each: %d rounds with mismatches" % (rounds, mismatched))
    if written.get("writer") is None or written["writer"].returncode != 0:
        print("the writer failed: %r" % written.get("writer"))
        return 1
    return 1 if mismatched else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
