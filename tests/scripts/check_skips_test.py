#!/usr/bin/env python3
"""scripts/check-skips.py against made-up test reports: which skips pass a strict run and which fail it.

usage: check_skips_test.py [PATH_TO_CHECK_SKIPS]
Each case writes one GoogleTest XML report, ctest's JUnit report and an allow-list into a fresh
folder, runs the script with --strict and compares its exit status (and a line of its output).
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "..", "scripts", "check-skips.py")


def gtest_report(cases):
    """A GoogleTest XML report; cases: (suite, name, skip message or None)."""
    rows = []
    for suite, name, skip in cases:
        body = "" if skip is None else f'<skipped message="{skip}"/>'
        result = "completed" if skip is None else "skipped"
        rows.append(f'<testsuite name="{suite}"><testcase name="{name}" classname="{suite}" '
                    f'result="{result}">{body}</testcase></testsuite>')
    return '<?xml version="1.0"?><testsuites>' + "".join(rows) + "</testsuites>"


def ctest_report(names):
    """ctest's JUnit report; a name ending in '!' is a test ctest reports as skipped."""
    rows = "".join(f'<testcase name="{n[:-1]}" status="notrun"><skipped message="Skipped"/></testcase>'
                   if n.endswith("!") else f'<testcase name="{n}" status="run"/>' for n in names)
    return f'<?xml version="1.0"?><testsuite>{rows}</testsuite>'


def run(cases, allow_lines, ctest_names=("prog",)):
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "prog.xml"), "w") as f:
            f.write(gtest_report(cases))
        with open(os.path.join(folder, "ctest.xml"), "w") as f:
            f.write(ctest_report(ctest_names))
        allow = os.path.join(folder, "allow.txt")
        with open(allow, "w") as f:
            f.write("\n".join(allow_lines) + "\n")
        p = subprocess.run([sys.executable, SCRIPT, folder, "--strict", "--allow", allow],
                           capture_output=True, text=True)
        return p.returncode, p.stdout + p.stderr


REASON = "user 65534 cannot run a copy of quarn-cli in /tmp/x"
CASES = [
    # (what, cases, allow-list, expected status, text the output holds)
    ("no skip passes", [("A", "B", None)], [], 0, "1 cases"),
    ("a skip the list does not name fails", [("A", "B", "no soffice")], [], 1,
     "A.B was skipped and scripts/allowed-skips.txt does not allow it"),
    ("a named skip passes", [("A", "B", "no soffice")], ["A.B  # needs LibreOffice"], 0, "skipped (allowed)"),
    ("a skip for the reason the list names passes", [("A", "B", "x.cpp:3\n" + REASON)],
     ['A.B when "user 65534 cannot run a copy"  # noexec /tmp'], 0, "skipped (allowed)"),
    ("a skip for another reason fails", [("A", "B", "x.cpp:3\nsomething else")],
     ['A.B when "user 65534 cannot run a copy"  # noexec /tmp'], 1, "does not allow it for this reason"),
    ("an allowed name that names no case fails", [("A", "B", None)], ["A.C  # gone"], 1,
     "names no test of this run"),
    ("a condition without quotes is refused", [("A", "B", None)], ["A.B when soffice  # x"], 1,
     "expected 'Suite.Case'"),
]
# (what, cases, ctest's tests, allow-list, expected status, text the output holds): ctest runs each
# GoogleTest case as a test of its own, and may report a skipped case as skipped too.
CTEST_CASES = [
    ("a case ctest also reports skipped is judged by its reason", [("A", "B", REASON)], ["A.B!"],
     ['A.B when "user 65534 cannot run a copy"  # noexec /tmp'], 0, "skipped (allowed)"),
    ("a case ctest reports skipped for a reason not allowed fails", [("A", "B", "other")], ["A.B!"],
     ['A.B when "user 65534 cannot run a copy"  # noexec /tmp'], 1, "does not allow it for this reason"),
    ("a test that is no GoogleTest case and did not run fails", [("A", "B", None)], ["A.B", "bench_x!"], [], 1,
     "bench_x was skipped"),
]


def main():
    failures = 0
    for what, cases, allow, status, text in CASES:
        got, output = run(cases, allow)
        if got != status or text not in output:
            failures += 1
            print(f"FAIL {what}: status {got} (expected {status}), output:\n{output}")
        else:
            print(f"ok   {what}")
    for what, cases, ctest, allow, status, text in CTEST_CASES:
        got, output = run(cases, allow, ctest)
        if got != status or text not in output:
            failures += 1
            print(f"FAIL {what}: status {got} (expected {status}), output:\n{output}")
        else:
            print(f"ok   {what}")
    total = len(CASES) + len(CTEST_CASES)
    print(f"{total - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
