#!/usr/bin/env python3
"""Fails when a text the programs can write to the log is missing from the README's table of
log records, so the two cannot drift apart.

  check_log_table.py README.md log/messages.cpp CMakeLists.txt

Every message of log/messages.cpp must stand in a backtick span of the README section "What the
log says", as it appears in the log: escapes decoded, the version filled in, the trailing line
feed and blank left off. The single line feed that closes every run is its own row.
"""

import re
import sys
from pathlib import Path

SECTION = "## What the log says"


def messages(source, version):
    """{constant name: text} of every log text, as the program writes it."""
    found = {}
    for match in re.finditer(r"const char (kMsg\w+)\[\]\s*=\s*((?:\"(?:[^\"\\]|\\.)*\"\s*|"
                             r"QZ_VERSION_TEXT\s*)+);", source):
        text = ""
        for part in re.finditer(r"\"((?:[^\"\\]|\\.)*)\"|QZ_VERSION_TEXT", match.group(2)):
            if part.group(0) == "QZ_VERSION_TEXT":
                text += version
            else:
                text += re.sub(r"\\(.)", lambda e: {"n": "\n"}.get(e.group(1), e.group(1)),
                               part.group(1))
        found[match.group(1)] = text
    return found


def main():
    readme, source, cmake = (Path(name).read_text(encoding="utf-8") for name in sys.argv[1:4])
    version = re.search(r"project\(\w+ VERSION ([0-9.]+)", cmake).group(1)
    if SECTION not in readme:
        print("README has no section %r" % SECTION)
        return 1
    section = readme.split(SECTION, 1)[1].split("\n## ", 1)[0]
    spans = {span.strip() for span in re.findall(r"`([^`]+)`", section)}
    texts = messages(source, version)
    if len(texts) < 40:
        print("only %d messages found in %s: the pattern no longer reads it" % (len(texts),
                                                                                sys.argv[2]))
        return 1
    missing = []
    for name, text in sorted(texts.items()):
        shown = text.rstrip("\n").rstrip()
        if shown and shown not in spans:
            missing.append("%s: %r" % (name, shown))
        elif not shown and "(an empty record)" not in section:
            missing.append("%s: the closing single line feed, as \"(an empty record)\"" % name)
    for entry in missing:
        print("not in the README's table of log records:", entry)
    print("%d log texts, %d missing from the README" % (len(texts), len(missing)))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
