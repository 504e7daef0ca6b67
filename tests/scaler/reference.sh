#!/usr/bin/env bash
# The filter's own scaler (scale_frame.exe, under Wine) against an independent one: ffmpeg's
# with -sws_flags area, which averages the covered area when shrinking and blends linearly
# around pixel centres at (i + 0.5) * source / output - 0.5 when growing, the same definitions.
# Each colour channel is scaled by ffmpeg as a grey picture of its own (its scaler would
# otherwise pass colour through YUV and blur the colours). Where ffmpeg's filter is too short
# (more than 255 source pixels to one output pixel) and for 2x2 to 1x1 (where ffmpeg does
# not average), the reference is the definition computed in floating point (box_model.py).
# Tolerance: at most 2 levels in any channel of any pixel; the picture's own size: exact.
#   reference.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/checks.sh" "$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool=$dir/tests/scale_frame.exe
[ -f "$tool" ] || tool=$dir/scale_frame.exe

scaled() {  # scaled W H W2 H2: the filter's scaler, into $work/ours.raw
  "$ROOT/scripts/wine-run" "$tool" "$(winpath "$work/src.raw")" "$1" "$2" "$(winpath "$work/ours.raw")" "$3" "$4"
}
ffmpeg_area() {  # ffmpeg_area W H W2 H2: ffmpeg's scaler, into $work/ref.raw
  python3 "$here/planes.py" to "$work/src.raw" "$work/src.planes" "$1" "$2" &&
    ffmpeg -v error -y -f rawvideo -pix_fmt gray -s "$1x$2" -i "$work/src.planes" -vf "scale=$3:$4:flags=area" \
      -pix_fmt gray -f rawvideo "$work/ref.planes" &&
    python3 "$here/planes.py" from "$work/ref.planes" "$work/ref.raw" "$3" "$4"
}
case_of() {  # case_of ffmpeg|model|same W H W2 H2 WHAT
  local reference=$1 w=$2 h=$3 w2=$4 h2=$5 what=$6 limit=2
  python3 "$here/picture.py" "$w" "$h" "$work/src.raw"
  if ! scaled "$w" "$h" "$w2" "$h2"; then fail "$what ${w}x$h -> ${w2}x$h2: scale_frame failed"; return; fi
  case $reference in
    ffmpeg) ffmpeg_area "$w" "$h" "$w2" "$h2" || { fail "$what: ffmpeg failed"; return; } ;;
    model) python3 "$here/box_model.py" "$work/src.raw" "$work/ref.raw" "$w" "$h" "$w2" "$h2" ;;
    same) cp "$work/src.raw" "$work/ref.raw"; limit=0 ;;
  esac
  local result
  result=$(python3 "$here/compare.py" "$work/ours.raw" "$work/ref.raw" "$w2" "$h2")
  local largest=${result%% *}
  if [ -n "$largest" ] && [ "$largest" -le "$limit" ] 2>/dev/null; then
    pass "$what ${w}x$h -> ${w2}x$h2 against $reference: largest difference $largest (mean, where: ${result#* })"
  else
    fail "$what ${w}x$h -> ${w2}x$h2 against $reference: $result (largest, mean, where), more than $limit"
  fi
}

case_of ffmpeg 400 250 200 125 "half size"
case_of ffmpeg 194 122 97 61 "half size, odd"
case_of ffmpeg 97 61 31 17 "odd sizes, shrinking"
case_of ffmpeg 96 61 32 61 "one axis shrinking by 3"
case_of ffmpeg 97 61 40 100 "one axis shrinking, the other growing"
case_of ffmpeg 97 61 200 150 "growing"
case_of ffmpeg 97 61 1 1 "one pixel"
case_of ffmpeg 1 9 1000 4 "one source column to 1000"
case_of ffmpeg 3840 21 16 3 "3840 wide to 16"
case_of ffmpeg 21 2160 3 9 "2160 high to 9"
case_of model 3840 21 7 3 "3840 wide to 7"
case_of model 2 2 1 1 "2x2 to one pixel"
case_of same 97 61 97 61 "the same size"

echo "$failures failed"
[ "$failures" = 0 ]
