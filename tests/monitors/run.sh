#!/usr/bin/env bash
# Runs one test (a command and its arguments) on the display of several monitors, with that
# display's Wine prefix (scripts/common.sh's use_monitor_display):
#   run.sh BUILD_DIR COMMAND [ARGS...]     BUILD_DIR: the build folder of one bitness
# ./run test starts the display once for every such test; run alone, this starts one itself.
# Where it cannot be started here (Xorg needs root), the test is left out and listed at the
# end of ./run test; a display that fails to start fails the test. The layout is put back as
# it started afterwards, whatever the test left.
set -uo pipefail
dir=$(cd "$1" && pwd)
shift
export DORVANTEL_BUILD=$(dirname "$dir")
source "$(dirname "$0")/../../scripts/common.sh"
status=0
use_monitor_display || status=$?
if [ "$status" -eq 2 ]; then
  reason="no display of several monitors: Xorg with its dummy driver needs root"
  echo "skip - $(basename "$1"): $reason"
  if [ -n "${DORVANTEL_SKIPS:-}" ]; then echo "$(basename "$1") (monitors): $reason" >>"$DORVANTEL_SKIPS"; fi
  exit 0
fi
if [ "$status" -ne 0 ]; then
  echo "FAIL - the display of several monitors did not start"
  exit 1
fi
"$@"
status=$?
"$ROOT/scripts/monitor-layout" standard >/dev/null 2>&1 || true
exit "$status"
