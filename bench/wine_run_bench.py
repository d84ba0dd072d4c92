#!/usr/bin/env python3
"""Wall time and peak memory of the complete set-up run under Wine, against a floor program
that only starts with the same system DLLs loaded and exits, in the same 64-bit prefix.

  wine_run_bench.py EXE FLOOR_EXE [RUNS]

The two are alternated so drift in the machine's load affects both alike; the report gives
the medians, their ratio and each one's peak resident memory.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
import wine_env  # noqa: E402
import windows_runner  # noqa: E402


def peak_kib(pid):
    """The process's high-water resident size so far (VmHWM), or None once it is gone."""
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


def timed_run(prefix, program, cwd):
    """Wall time, peak resident KiB and exit code of one run. The peak is sampled until the
    process ends, so it is the high-water mark shortly before exit."""
    start = time.perf_counter()
    process = subprocess.Popen(["wine", str(program)], env=prefix.env, cwd=cwd,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while True:
        waited, status = os.waitpid(process.pid, os.WNOHANG)
        if waited:
            break
        sample = peak_kib(process.pid)
        if sample:
            peak = max(peak, sample)
        time.sleep(0.0005)
    elapsed = time.perf_counter() - start
    return elapsed, peak, os.waitstatus_to_exitcode(status)


def main():
    # Measured where Wine runs: in the guest, on a machine that runs no 32-bit x86 code.
    forwarded = windows_runner.forward_script(sys.argv)
    if forwarded is not None:
        return forwarded
    exe, floor = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 21
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        prefix = wine_env.Prefix(work / "prefix", "win64")
        prefix.create()
        prefix.set_version("win10")
        folder = wine_env.layout_program_folder(work / "QZ")
        shutil.copy(exe, folder / "QZ_DriverSetup.exe")
        shutil.copy(floor, folder / "floor.exe")
        # Keep the Wine server up between runs, as it is between the end-to-end tests.
        server = subprocess.Popen(["wineserver", "-p", "-f"], env=prefix.env)
        try:
            for program in ("QZ_DriverSetup.exe", "floor.exe"):  # warm-up, not counted
                timed_run(prefix, folder / program, folder)
            results = {"QZ_DriverSetup.exe": [], "floor.exe": []}
            for _ in range(runs):
                for program in results:
                    elapsed, rss, code = timed_run(prefix, folder / program, folder)
                    if code != 0:
                        raise SystemExit("%s exited with %d" % (program, code))
                    results[program].append((elapsed, rss))
        finally:
            prefix.kill()
            server.wait()
    full = statistics.median(t for t, _ in results["QZ_DriverSetup.exe"])
    base = statistics.median(t for t, _ in results["floor.exe"])
    for program, samples in results.items():
        times = sorted(t for t, _ in samples)
        print("%-20s median %.1f ms  min %.1f ms  max %.1f ms  peak RSS %d KiB" % (
            program, statistics.median(times) * 1000, times[0] * 1000, times[-1] * 1000,
            max(r for _, r in samples)))
    print("(times include sampling the peak every 0.5 ms, alike for both)")
    print("ratio of medians (run / floor): %.3f over %d alternated runs each" % (full / base, runs))


if __name__ == "__main__":
    sys.exit(main())
