#!/usr/bin/env python3
"""The guest's agent as its users meet it: it answers only to the run that booted it, and a
script whose time runs out shows what it printed until then and then one `error:` line, never a
traceback. Natively there is no guest, and nothing to check.

  guest_checks.py             runs the checks
  guest_checks.py hang S      (in the guest) prints, then hangs; bounded to S seconds there
"""

import subprocess
import sys
from pathlib import Path

import wine_guest
import windows_runner

PRINTED = "printed before hanging"


def hang():
    print(PRINTED, flush=True)
    print("and on its standard error", file=sys.stderr, flush=True)
    subprocess.run(["sleep", "3600"])


def main(argv):
    if argv[:1] == ["hang"]:
        forwarded = windows_runner.forward_script([__file__] + argv, timeout=int(argv[1]))
        if forwarded is not None:
            return forwarded
        hang()
        return 0
    if windows_runner.way() != "guest":
        print("native: no guest to check")
        return 0
    problems = []
    port, secret = windows_runner.guest()
    for wrong in ("", secret[:-1] + ("0" if secret[-1] != "0" else "1")):
        answer = wine_guest.call(port, wrong, {"argv": ["true"], "timeout": 60}, timeout=60)
        if answer != {"error": "refused"}:
            problems.append("a request without the boot's secret got %r" % answer)
    completed = subprocess.run([sys.executable, str(Path(__file__).resolve()), "hang", "15"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    out = completed.stdout.decode("utf-8", "replace")
    err = completed.stderr.decode("utf-8", "replace")
    sys.stdout.write(out + err)
    lines = out.splitlines()
    if PRINTED not in lines:
        problems.append("what the script printed is lost")
    if "and on its standard error" not in err:
        problems.append("what it printed on standard error is lost")
    if not lines or not lines[-1].startswith("error: ") or "within 15 s" not in lines[-1]:
        problems.append("the output does not end in the error: line")
    if "Traceback" in out + err:
        problems.append("a traceback was printed")
    if completed.returncode != 1:
        problems.append("exit code %d, want 1" % completed.returncode)
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
