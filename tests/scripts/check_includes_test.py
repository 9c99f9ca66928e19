#!/usr/bin/env python3
"""scripts/check-includes.py: the repository passes, and a made-up tree with an include climbing out of
its folder (or an absolute one) fails and names the line.

usage: check_includes_test.py CHECK_INCLUDES REPO
"""
import os
import subprocess
import sys
import tempfile

SCRIPT, REPO = sys.argv[1], sys.argv[2]


def run(root):
    p = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
    return p.returncode, p.stdout


failures = []
status, out = run(REPO)
if status != 0:
    failures.append("the repository itself fails:\n" + out)

CASES = [  # (file, its text, expected status)
    ("link/core/a.cpp", '#include "core/quarn_core.h"\n', 0),
    ("link/core/a.cpp", '#include "../hart/hart_internal.h"\n', 1),
    ("workstation/screens/b.cpp", '  #  include "../../link/calibrator/verification.h"\n', 1),
    ("cli/c.cpp", '#include "/work/link/calibrator/verification.h"\n', 1),
    ("lab/d.h", '#include "report/x/../../history/y.h"\n', 1),
    ("tests/link/e.cpp", '#include "../serial/fake_vport.h"\n', 0),  # tests are not product code
]
for rel, text, expected in CASES:
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.dirname(os.path.join(root, rel)))
        with open(os.path.join(root, rel), "w") as f:
            f.write("// x\n" + text)
        status, out = run(root)
        if status != expected or (expected and rel + ":2:" not in out):
            failures.append("%s %r: status %d, output %r" % (rel, text, status, out))

for f in failures:
    print("FAIL", f)
print("%d of %d cases failed" % (len(failures), len(CASES) + 1))
sys.exit(1 if failures else 0)
