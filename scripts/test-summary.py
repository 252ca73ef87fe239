#!/usr/bin/env python3
"""Prints which build each test ran and how it ended, from the JUnit files
CTest wrote, one (title, file, exit code) triple per run of scripts/test.sh.
A run whose exit code is "skipped" did not run; one that failed without
leaving its file (a build or a guest that did not start) says so."""
import sys
import xml.etree.ElementTree as ET

args = sys.argv[1:]
print()
print("Which build each test ran:")
for i in range(0, len(args), 3):
    title, path, code = args[i:i + 3]
    if code == "skipped":
        print(f"  {title}: not run")
        continue
    try:
        cases = ET.parse(path).getroot().iter("testcase")
    except (OSError, ET.ParseError):
        print(f"  {title}: no results (exit code {code})")
        continue
    passed, failed, skipped = [], [], []
    for case in cases:
        name = case.get("name")
        if case.find("failure") is not None or case.find("error") is not None:
            failed.append(name)
        elif case.find("skipped") is not None:
            skipped.append(name)
        else:
            passed.append(name)
    print(f"  {title}: {len(passed)} passed, {len(failed)} failed, {len(skipped)} not run (exit code {code})")
    for name in failed:
        print(f"    failed: {name}")
    if "shipped" in title:
        for name in passed:
            print(f"    passed: {name}")
