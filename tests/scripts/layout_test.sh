#!/usr/bin/env bash
# The programs (the recorder, the register tool, the demo and the camera's feed) reach the filter
# only through its contract header, module/dorvantel.h: each
# folder includes only what its layer may (the programs: their own folder, the programs'
# library hostkit/, the preset model preset/ and the shared base/, and the settings program
# the capture editor editor/ too; hostkit/: itself, preset/ and base/; the capture editor
# editor/: itself, preset/ and base/, so that the filter's page and the settings program embed
# one editor; preset/: itself and base/; the filter's property page page/: itself, editor/,
# preset/, base/ and the object base framework/, so that it too reaches the filter only through
# COM; the camera's media source camera/: itself, base/, format/ (the converter) and framework/
# (the object base); base/: itself), and no program or the programs' library links the filter's core. The check is tried on a planted
# fault first, so that a check that sees nothing cannot pass.
#   layout_test.sh [ROOT]   (default: this repository)
set -uo pipefail
root=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
failures=0

# Prints each quoted include of FOLDER's files that names a folder other than the ALLOWED ones
# or module/dorvantel.h, and each CMakeLists.txt there that links the filter's core.
strays() {  # strays ROOT FOLDER ALLOWED...
  local base=$1 folder=$2 allowed="${*:3}" include='[[:space:]]*#[[:space:]]*include[[:space:]]*"'
  [ -d "$base/$folder" ] || return 0
  grep -rHnE "^$include[^\"/]+/" "$base/$folder" --include='*.h' --include='*.cpp' --include='*.rc' |
    grep -vE "^[^:]*:[0-9]+:$include(($(tr ' ' '|' <<<"$allowed"))/|module/dorvantel\.h\")"
  grep -HnE 'dorvantel_core' "$base/$folder/CMakeLists.txt" 2>/dev/null
}

layout() {  # layout ROOT: every stray of every layer
  local program
  for program in recorder register demo feed; do strays "$1" "$program" "$program" hostkit preset base; done
  strays "$1" settings settings hostkit editor preset base
  strays "$1" hostkit hostkit preset base
  strays "$1" editor editor preset base
  strays "$1" preset preset base
  strays "$1" page page editor preset base framework
  strays "$1" camera camera base format framework
  strays "$1" base base
}

planted=$(mktemp -d)
trap 'rm -rf "$planted"' EXIT
mkdir -p "$planted/hostkit" "$planted/settings" "$planted/page" "$planted/editor" "$planted/recorder"
printf '#include "hostkit/preset.h"\n#include "capture/desktop_capture.h"\n#include "module/class_factory.h"\n' \
  >"$planted/hostkit/a.cpp"
printf 'target_link_libraries(hostkit PUBLIC dorvantel_base dorvantel_core)\n' >"$planted/hostkit/CMakeLists.txt"
printf '#include "module/dorvantel.h"\n#include "recorder/recording.h"\n' >"$planted/settings/b.cpp"
printf '#include "framework/unknown.h"\n#include "capture/desktop_source.h"\n' >"$planted/page/c.cpp"
printf '#include "editor/capture_panel.h"\n#include "hostkit/capture_graph.h"\n#include "framework/unknown.h"\n' \
  >"$planted/editor/d.cpp"
printf '#include "editor/overlay.h"\n' >"$planted/recorder/e.cpp"
mkdir -p "$planted/camera"
printf '#include "capture/desktop_source.h"\n#include "format/yuv_frames.h"\n' >"$planted/camera/f.cpp"
found=$(layout "$planted")
if [ "$(wc -l <<<"$found")" = 9 ] && grep -q capture/ <<<"$found" && grep -q class_factory <<<"$found" &&
  grep -q dorvantel_core <<<"$found" && grep -q recorder/ <<<"$found" && grep -q page/c.cpp <<<"$found" &&
  grep -q 'editor/d.cpp:2:' <<<"$found" && grep -q 'editor/d.cpp:3:' <<<"$found" &&
  grep -q 'recorder/e.cpp' <<<"$found" && grep -q 'camera/f.cpp:1:' <<<"$found"; then
  echo "ok - planted strays are found"
else
  echo "FAIL - planted strays: found '$found'"
  failures=$((failures + 1))
fi

found=$(layout "$root")
if [ -z "$found" ]; then
  echo "ok - the programs, hostkit/, editor/, preset/, page/, camera/ and base/ reach the filter only through module/dorvantel.h"
else
  echo "FAIL - includes or links across the layers:"
  echo "$found"
  failures=$((failures + 1))
fi
echo "$failures failed"
[ "$failures" = 0 ]
