#!/usr/bin/env bash
# The project's main job on its embedded default: the headless host against the built-in simulator,
# ending in an unattended verification of the demo project with its protocol workbook, stored in a
# run history of the demo's own (reports/demo-history.db, never the user's: a history keeps every
# run for good) and listed from it.
set -euo pipefail
build=${1:-build/release}
bin="$build/bin"
examples=$(cd "$(dirname "$0")/../examples" && pwd)
# The demonstration bench: one exact transmitter, one slightly off, one out of tolerance and one
# with a falling 20..4 mA output (examples/demo_bench.scenario, described by examples/demo.aip).
sim=(--sim --sim-arg --scenario --sim-arg "$examples/demo_bench.scenario")
echo "== calibrator found by the headless host (simulator on a pseudo-terminal)"
"$bin/quarn-cli" "${sim[@]}" probe
echo "== five measuring cycles"
"$bin/quarn-cli" "${sim[@]}" measure --cycles 5

echo "== verification of examples/demo.aip (Quarn; the simulator's operator follows every target)"
mkdir -p reports
history=reports/demo-history.db
report_args=()
if [[ -e "$bin/libxlsxgen.so" ]]; then
  report_args=(--report reports/demo-verification.xlsx)
fi
result=$("$bin/quarn-cli" "${sim[@]}" --timeout 20 verify "$examples/demo.aip" --run-timeout 600 \
  --history "$history" "${report_args[@]}")
echo "$result"

# A readable summary when Python is there; the JSON line above is the result either way.
if command -v python3 > /dev/null; then
  python3 - "$result" << 'PY'
import json, sys
r = json.loads(sys.argv[1])
print("%-4s %12s" % ("#", "pRef, kPa") + "".join("   ch%d I, mA   err, %%" % (c + 1) for c in range(4)))
for k, p in enumerate(r["points"]):
    cells = []
    for c in p["ch"]:
        cells.append("%11.4f %8.3f" % (c["current"] or 0, c["reducedError"] or 0))
    print("%-4d %12.3f " % (k, p["pRef"]) + " ".join(cells))
verdict = {True: "suitable", False: "NOT suitable", None: "off"}
print("channels: " + ", ".join("%d %s" % (c + 1, verdict[s]) for c, s in enumerate(r["suitable"])))
PY
fi
if [[ ${#report_args[@]} -gt 0 ]]; then
  echo "== protocol: reports/demo-verification.xlsx"
fi
echo "== run history $history (newest first)"
"$bin/quarn-cli" history list --history "$history"

# One-button calibration on the calibration bench (a Brenk sets every pressure itself): the as-found
# run, the HART trims of the two devices out of tolerance, the as-left run, stored in the same history.
# The simulator runs inside quarn-cli in virtual time, so the six minutes of the bench take seconds.
echo "== calibration of examples/calibration.aip (Brenk; calibration bench, virtual time)"
cal_args=()
if [[ -e "$bin/libxlsxgen.so" ]]; then
  cal_args=(--report reports/demo-calibration.xlsx)
fi
set +e
calibration=$("$bin/quarn-cli" --sim-virtual --model brenk --sim-arg --scenario \
  --sim-arg "$examples/calibration_bench.scenario" calibrate "$examples/calibration.aip" \
  --history "$history" "${cal_args[@]}")
status=$?
set -e
echo "$calibration"
if command -v python3 > /dev/null; then
  python3 - "$calibration" << 'PY'
import json, sys
r = json.loads(sys.argv[1])
verdict = {True: "suitable", False: "NOT suitable", None: "-"}
for c in r["channels"]:
    if not c["enabled"]:
        continue
    print("ch%d  as found: %-12s adjusted: %-3s as left: %-12s %s" % (
        c["ch"], verdict[c["asFound"]], "yes" if c["adjusted"] else "no", verdict[c["asLeft"]],
        c["reason"] or ""))
print("calibration %s in %.0f s of the bench's time" % ("succeeded" if r["ok"] else "did NOT succeed", r["seconds"]))
PY
fi
[[ $status -eq 0 ]] || exit "$status"
echo "== the pair of device 2002 (output trimmed)"
"$bin/quarn-cli" history pair 2002 --history "$history"
