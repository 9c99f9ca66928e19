#!/usr/bin/env bash
# A picture of ARM_Quarn for the documentation, taken from a copy of the build's program folder in a
# neutral place, so the picture shows the program's own folder (the protocol template folder
# "…/ARM_Quarn/template_xml/", the project file) instead of the build tree of whoever took it.
#
# usage: scripts/workstation-picture.sh BUILD_DIR OUT.png [ARM_Quarn options...]
#   A project named with --project is copied into the staged folder's "projects/" and opened from
#   there. The folder is $QUARN_PICTURE_DIR, /opt/ARM_Quarn when not set; it is made anew each time.
#   Runs under Xvfb (xvfb-run) at 1600x1000; ARM_Quarn --screenshot draws the caption above the
#   window. Example (the parameters screen's protocol page):
#     scripts/workstation-picture.sh build/release docs/screenshots/param_protocol.png --simulate \
#       --sim-arg --scenario --sim-arg examples/demo_bench.scenario --project examples/demo.aip \
#       --mode 3 --page 2 --after-ms 6000
set -euo pipefail
if [[ $# -lt 2 ]]; then
  sed -n '2,13p' "$0" >&2
  exit 2
fi
bin=$(cd "$1/bin" && pwd)
out=$(realpath -m "$2")
shift 2
stage=${QUARN_PICTURE_DIR:-/opt/ARM_Quarn}
case "$stage" in
  /|"") echo "workstation-picture: refusing QUARN_PICTURE_DIR=$stage" >&2; exit 2 ;;
esac
rm -rf "$stage"
mkdir -p "$stage/projects"
# The program, its library, the simulator it starts, the catalogues, the templates and what else
# ships beside it; nothing of the build's own.
for f in ARM_Quarn libquarn.so libxlsxgen.so quarn-sim quarn-cli Models_Quarn.xml Models_Brenk.xml Errors.xml \
  mp.ini default.aip; do
  [[ -e "$bin/$f" ]] && cp -a "$bin/$f" "$stage/"
done
[[ -d "$bin/template_xml" ]] && cp -a "$bin/template_xml" "$stage/"

args=()
while [[ $# -gt 0 ]]; do
  if [[ $1 == --project && $# -gt 1 ]]; then
    cp "$2" "$stage/projects/"
    args+=(--project "$stage/projects/$(basename "$2")")
    shift 2
  else
    args+=("$1")
    shift
  fi
done
xvfb-run -a -s "-screen 0 1600x1000x24" "$stage/ARM_Quarn" "${args[@]}" --screenshot "$out"
echo "picture: $out"
