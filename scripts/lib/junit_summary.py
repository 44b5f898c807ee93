#!/usr/bin/env python3
"""Prints "N passed, M failed[, K skipped]" for one JUnit XML result file.

Reads both GoogleTest's and pytest's XML: every <testcase> counts once, as
failed when it holds a <failure> or <error>, as skipped when it holds a
<skipped> or was not run (a disabled GoogleTest case), otherwise as passed.
Exit code 0 when the file was read, 2 when it is missing or unreadable.
"""
import sys
import xml.etree.ElementTree as ET


def count(path):
    root = ET.parse(path).getroot()
    passed = failed = skipped = 0
    for case in root.iter("testcase"):
        tags = {child.tag for child in case}
        if "failure" in tags or "error" in tags:
            failed += 1
        elif "skipped" in tags or case.get("status") == "notrun" \
                or case.get("result") == "skipped":
            skipped += 1
        else:
            passed += 1
    return passed, failed, skipped


def main():
    try:
        passed, failed, skipped = count(sys.argv[1])
    except OSError:
        print("no results (the program ended before writing them)")
        return 2
    except ET.ParseError:
        print("no results (unreadable result file)")
        return 2
    line = f"{passed} passed, {failed} failed"
    if skipped:
        line += f", {skipped} skipped"
    print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
