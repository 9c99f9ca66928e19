#!/usr/bin/env python3
"""Lists the tests a ctest run skipped and, with --strict, fails on any skip not allowed.

usage: check-skips.py RESULTS_DIR [--strict] [--allow FILE]

RESULTS_DIR holds what the run wrote: GoogleTest XML reports (one per case when ctest runs the cases
one by one) and ctest's own JUnit reports (ctest --output-junit RESULTS_DIR/ctest.xml, and
ctest-<part>.xml of a part run by a ctest of its own).
A GoogleTest case that called GTEST_SKIP, a disabled case, and a ctest test that was not run all count
as skipped. The allow-list (scripts/allowed-skips.txt by default) names the cases that may skip, one
"Suite.Case" per line with its reason after a '#'; a line 'Suite.Case when "TEXT"' allows the case to
skip only with a message that holds TEXT (the one cause it may skip for), any other skip of it fails.
With --strict the script also fails when the results are missing or when an allowed name matches no
case of the run (the list must not go stale).
"""
import argparse
import glob
import os
import sys
import xml.etree.ElementTree as ET


def read_allow_list(path):
    allowed = {}
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            name, _, reason = line.partition("#")
            name, reason = name.strip(), reason.strip()
            if not reason:
                sys.exit(f"{path}:{number}: '{name}' has no reason (write it after a '#')")
            when = None
            if " " in name:
                name, _, condition = name.partition(" ")
                condition = condition.strip()
                if not (condition.startswith('when "') and condition.endswith('"') and len(condition) > 7):
                    sys.exit(f"{path}:{number}: expected 'Suite.Case' or 'Suite.Case when \"TEXT\"'")
                when = condition[len('when "'):-1]
            allowed[name] = (reason, when)
    return allowed


def allows(allowed, name, message):
    """Whether the allow-list lets `name` skip with `message`."""
    if name not in allowed:
        return False
    when = allowed[name][1]
    return when is None or when in message


def gtest_cases(path):
    """(program, Suite.Case, skipped, message) of every case of one GoogleTest XML report."""
    program = os.path.splitext(os.path.basename(path))[0]
    root = ET.parse(path).getroot()
    for suite in root.iter("testsuite"):
        for case in suite.iter("testcase"):
            name = f"{case.get('classname', suite.get('name'))}.{case.get('name')}"
            skipped_node = case.find("skipped")
            skipped = (
                skipped_node is not None
                or case.get("result") in ("skipped", "suppressed")
                or case.get("status") == "notrun"
            )
            message = ""
            if skipped_node is not None:
                message = skipped_node.get("message") or (skipped_node.text or "")
            yield program, name, skipped, message.strip()


def ctest_cases(path):
    """(test, skipped, message) of every test of ctest's JUnit report."""
    root = ET.parse(path).getroot()
    for case in root.iter("testcase"):
        skipped_node = case.find("skipped")
        skipped = skipped_node is not None or case.get("status") in ("notrun", "disabled")
        message = skipped_node.get("message", "") if skipped_node is not None else ""
        yield case.get("name"), skipped, message


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("results")
    parser.add_argument("--strict", action="store_true")
    parser.add_argument("--allow", default=os.path.join(here, "allowed-skips.txt"))
    args = parser.parse_args()

    allowed = read_allow_list(args.allow)
    reports = sorted(glob.glob(os.path.join(args.results, "*.xml")))
    junit = os.path.join(args.results, "ctest.xml")
    # ctest's own reports: ctest.xml, and ctest-<part>.xml of a part run by a ctest of its own.
    junits = [r for r in reports if os.path.basename(r) == "ctest.xml" or os.path.basename(r).startswith("ctest-")]
    gtest_reports = [r for r in reports if r not in junits]

    problems = []
    if args.strict and not os.path.exists(junit):
        problems.append(f"no ctest report {junit}")
    if args.strict and not gtest_reports:
        problems.append(f"no GoogleTest report in {args.results}")

    seen = set()
    skipped = []  # (where, name, message)
    cases = 0
    for report in gtest_reports:
        try:
            for program, name, was_skipped, message in gtest_cases(report):
                cases += 1
                seen.add(name)
                if was_skipped:
                    skipped.append((program, name, message))
        except ET.ParseError as e:
            problems.append(f"{report}: unreadable ({e})")
    gtest_names = set(seen)
    for report in junits:
        for name, was_skipped, message in ctest_cases(report):
            seen.add(name)
            # ctest runs each GoogleTest case on its own; a case that skipped is judged by its
            # GoogleTest report, which holds the reason.
            if was_skipped and name not in gtest_names:
                skipped.append(("ctest", name, message))

    for where, name, message in skipped:
        if allows(allowed, name, message):
            print(f"skipped (allowed): {where}: {name}: {message or allowed[name][0]}")
        else:
            print(f"skipped: {where}: {name}: {message}")
            if args.strict:
                why = "for this reason" if name in allowed else ""
                problems.append(f"{name} was skipped and scripts/allowed-skips.txt does not allow it {why}".strip())
    if args.strict:
        for name in allowed:
            if name not in seen:
                problems.append(f"allowed skip {name} names no test of this run (remove it from the list)")

    print(f"skip check: {cases} cases in {len(gtest_reports)} GoogleTest reports, {len(skipped)} skipped")
    for p in problems:
        print(f"skip check: {p}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
