#!/usr/bin/env bash
# The Windows 11 camera's control path, as the register tool drives it: against a stand-in for
# the platform's mfsensorgroup.dll that records every call with its arguments (type, lifetime,
# access, friendly name, source, categories, the preset's attribute, Start, Remove), with a
# stand-in feed program beside a copy of the tool; the logon entry written and removed, the
# check's line per device; a refusal of the platform changes nothing; and where there is no such
# platform (Wine's own, or a library that is not there) the one line and nothing changed.
# Bad arguments and names that are not our devices: one line, exit status 2.
#   camera.sh BUILD_DIR    (the build folder of one bitness, e.g. build/win64)
set -uo pipefail
source "$(dirname "$0")/../support/checks.sh" "$1"
if objdump -f "$dir/dorvantel-register.exe" | grep -q x86-64; then bits=64; else bits=32; fi
if [ "$bits" = 32 ] && i386_emulated; then
  skip "the 32-bit register tool's camera: 32-bit programs run through qemu here, about a minute per start"
  exit 0
fi
work=$(mktemp -d "$dir/register-camera.XXXXXX")
# A copy of the tool with the stand-in feed beside it, as dorvantel-feed.exe, in a folder with a
# space in its name as "Program Files" has (the logon entry quotes the path).
tool="$work/Program Files"
mkdir -p "$tool" "$work/nofeed"
cp "$dir/dorvantel-register.exe" "$tool/"
cp "$dir/tests/camera-standin/feed_standin.exe" "$tool/dorvantel-feed.exe"
cp "$dir/dorvantel-register.exe" "$work/nofeed/"
standin=$(winpath "$dir/tests/camera-standin/mfsensorgroup.dll")
log=$work/calls.log
export DORVANTEL_CAMERA_LOG=$(winpath "$log")
export DORVANTEL_MFSENSORGROUP=$standin
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
records='HKCU\Software\Dorvantel\Windows cameras'
source_id='{F2CC9C80-1DE3-4D6B-900E-F89A429C3E68}'
preset_attribute='{6B1F3E0A-94C2-4E57-A1D8-3C0E5B7A2F41}'
video_camera='{E5323777-F976-4F5B-9B55-B94699C46E44}'
build_tool() { timeout 120 "$ROOT/scripts/wine-run" "$dir/dorvantel-register.exe" "$@"; }
# camera ARGS: the copy's camera command; its output in $work/out, errors in $work/err, status in $status.
camera() {
  : >"$log"
  timeout 120 "$ROOT/scripts/wine-run" "$tool/dorvantel-register.exe" camera "$@" >"$work/out" 2>"$work/err"
  status=$?
  sed -i 's/\r$//' "$work/out" "$work/err"
}
calls() { grep -v '^feed' "$log" 2>/dev/null; }
# The feed's line arrives from a process of its own: waited for, five seconds at most.
feed_line() { for _ in $(seq 50); do grep '^feed \[' "$log" 2>/dev/null && return; sleep 0.1; done; }
# How many feeds ended on being closed, once N have (five seconds at most).
closed() { for _ in $(seq 50); do [ "$(grep -c '^feed closed' "$log")" -ge "$1" ] && break; sleep 0.1; done; grep -c '^feed closed' "$log"; }
run_value() { winreg query "$run_key" /v "Dorvantel feed: $1" 2>/dev/null | tr -d '\r' | sed -n 's/^ *Dorvantel feed: .* REG_SZ \+//p'; }
# The feeds' logon entries and the cameras' records; nothing when neither is there.
state() {
  winreg query "$run_key" 2>/dev/null | tr -d '\r' | grep 'Dorvantel feed'
  winreg query "$records" /s 2>/dev/null | tr -d '\r' | grep -v '^reg: '
}
cleanup() {
  DORVANTEL_MFSENSORGROUP=$standin timeout 120 "$ROOT/scripts/wine-run" "$tool/dorvantel-register.exe" camera off --all >/dev/null 2>&1
  winreg delete 'HKCU\Software\Dorvantel' /f >/dev/null 2>&1
  build_tool unregister --all >/dev/null 2>&1
  rm -rf "$work"
  if [ -n "${XVFB_PID:-}" ]; then stop_session; fi
}
trap cleanup EXIT
build_tool unregister --all >/dev/null 2>&1
winreg delete 'HKCU\Software\Dorvantel' /f >/dev/null 2>&1
build_tool register --name "Dorvantel cam" 2>/dev/null && build_tool register 2>/dev/null ||
  { echo "FAIL - the devices cannot be registered: is $dir/$( [ "$bits" = 64 ] && echo dorvantel64 || echo dorvantel).dll built?"; exit 1; }

# On: one camera of the parameters a camera that outlives the tool needs, named as the device.
camera status --name "Dorvantel cam"
check "status before: off" '"Dorvantel cam": Windows camera: off' "$(cat "$work/out")"
check "status before: exit status" 0 "$status"
camera on --name "Dorvantel cam"
check "on: exit status" 0 "$status"
check "on: the calls, in order" "MFCreateVirtualCamera type=0 lifetime=1 access=0 friendlyName=\"Dorvantel cam\" sourceId=\"$source_id\" categories=$video_camera
SetString $preset_attribute \"Dorvantel cam\"
Start callback=null
Release (the last reference)" "$(calls)"
check "on: the feed started now, for the device" "feed [--name] [Dorvantel cam]" "$(feed_line)"
feed=$(winpath "$tool/dorvantel-feed.exe")
check "on: the feed starts at logon, its path quoted" "\"$feed\" --name \"Dorvantel cam\"" "$(run_value "Dorvantel cam")"
check "on: says so in one line" 1 "$(grep -c 'is on' "$work/err")"
camera status --name "Dorvantel cam"
check "status after on" '"Dorvantel cam": Windows camera: on' "$(cat "$work/out")"
check "status: no call to the platform beyond the lookup" "" "$(calls)"
camera status --name "Dorvantel"
check "status of another device: off" '"Dorvantel": Windows camera: off' "$(cat "$work/out")"

# On again: the same parameters re-open the camera; one logon entry still.
camera on --name "Dorvantel cam"
check "on again: exit status" 0 "$status"
check "on again: the same camera re-opened and started" 2 "$(calls | grep -c -e "friendlyName=\"Dorvantel cam\" sourceId=\"$source_id\"" -e '^Start')"
check "on again: one logon entry" 1 "$(winreg query "$run_key" 2>/dev/null | grep -c 'Dorvantel feed: Dorvantel cam')"

# The check: one line per device of ours.
"$ROOT/scripts/wine-run" "$tool/dorvantel-register.exe" check --this-bitness >"$work/check" 2>&1
tr -d '\r' <"$work/check" | grep -A3 '^"Dorvantel cam"' | grep -qx '  Windows camera: on' &&
  pass "check: the camera's line of the device whose camera is on" || fail "check: $(cat "$work/check")"
tr -d '\r' <"$work/check" | grep -A3 '^"Dorvantel" ' | grep -qx '  Windows camera: off' &&
  pass "check: the camera's line of the device without one" || fail "check: $(cat "$work/check")"

# Off: the recorded camera re-opened with its parameters and removed, the logon entry with it,
# and the feeds (two started, one by each on) ended.
camera off --name "Dorvantel cam"
check "off: exit status" 0 "$status"
check "off: the feeds are ended" 2 "$(closed 2)"
check "off: the calls, in order" "MFCreateVirtualCamera type=0 lifetime=1 access=0 friendlyName=\"Dorvantel cam\" sourceId=\"$source_id\" categories=$video_camera
Remove
Release (the last reference)" "$(calls)"
check "off: the logon entry is gone" "" "$(run_value "Dorvantel cam")"
check "off: nothing of the camera is left" "" "$(state)"
camera off --name "Dorvantel cam"
check "off when off: exit status" 0 "$status"
check "off when off: no call" "" "$(calls)"
grep -q 'nothing was on' "$work/err" && pass "off when off: says so" || fail "off when off: $(cat "$work/err")"

# Off for one of two: the other's feed goes on. Off for every device: each camera that is on.
camera on --name "Dorvantel cam"
feed_line >/dev/null
camera on
feed_line >/dev/null
camera off --name "Dorvantel cam"
check "off with another camera on: its own feed ended" 1 "$(closed 1)"
sleep 1
check "off with another camera on: the other's feed goes on" "feed closed Dorvantel cam" "$(grep '^feed closed' "$log")"
check "off with another camera on: its logon entry stays" "\"$feed\" --name Dorvantel" "$(run_value Dorvantel)"
camera on --name "Dorvantel cam"
feed_line >/dev/null
camera off --all
check "off --all: exit status" 0 "$status"
check "off --all: both removed" 2 "$(calls | grep -c '^Remove')"
check "off --all: nothing left" "" "$(state)"
check "off --all: the feeds are ended" 2 "$(closed 2)"

# The platform refuses: nothing stays changed (the made camera is not recorded, no feed runs).
DORVANTEL_CAMERA_FAIL=Start camera on --name "Dorvantel cam"
check "refused Start: exit status" 1 "$status"
check "refused Start: one line" 1 "$(wc -l <"$work/err")"
grep -q 'privacy' "$work/err" && pass "refused Start: says what to look at" || fail "refused Start: $(cat "$work/err")"
check "refused Start: nothing changed" "" "$(state)"
sleep 1
check "refused Start: no feed" "" "$(grep '^feed \[' "$log")"
DORVANTEL_CAMERA_FAIL=MFCreateVirtualCamera camera on --name "Dorvantel cam"
check "refused creation: exit status" 1 "$status"
check "refused creation: nothing changed" "" "$(state)"
camera on --name "Dorvantel cam"
DORVANTEL_CAMERA_FAIL=Remove camera off --name "Dorvantel cam"
check "refused Remove: exit status" 1 "$status"
check "refused Remove: the camera stays recorded, its feed at logon" "\"$feed\" --name \"Dorvantel cam\"" "$(run_value "Dorvantel cam")"
camera off --name "Dorvantel cam"

# No feed program beside the tool: refused before the platform is asked.
: >"$log"
timeout 120 "$ROOT/scripts/wine-run" "$work/nofeed/dorvantel-register.exe" camera on --name "Dorvantel cam" >/dev/null 2>"$work/err"
check "no feed program: exit status" 1 $?
grep -q 'dorvantel-feed.exe is missing' "$work/err" && pass "no feed program: says so" || fail "no feed program: $(cat "$work/err")"
check "no feed program: no call" "" "$(calls)"

# A device unregistered with its camera on: the camera is this user's and the other bitness's
# device may still be there, so it stays, and a note says how it goes; then it goes.
camera on --name "Dorvantel cam"
feed_line >/dev/null
build_tool unregister --name "Dorvantel cam" >/dev/null 2>"$work/err"
check "unregistered with its camera on: exit status" 0 $?
grep -qF 'note: the Windows camera "Dorvantel cam" stays on; dorvantel-register camera off --name "Dorvantel cam" removes it' \
  "$work/err" && pass "unregistered with its camera on: a note says how to remove it" || fail "unregistered: $(cat "$work/err")"
camera off --name "Dorvantel cam"
check "its camera removed after the device: exit status" 0 "$status"
check "its camera removed after the device: nothing left" "" "$(state)"
build_tool unregister --name "Dorvantel cam" >/dev/null 2>"$work/err"
grep -q 'note:' "$work/err" && fail "unregistered without a camera: $(cat "$work/err")" || pass "unregistered without a camera: no note"
build_tool register --name "Dorvantel cam" 2>/dev/null

# Bad arguments and names: one line each, exit status 2, nothing asked of the platform.
for arguments in "" "sideways" "on --name" "status --all" "off --all --name Dorvantel" "on extra" \
                 "on --name No such device" "status --name No such device"; do
  # shellcheck disable=SC2086
  if [[ "$arguments" == *"No such device" ]]; then camera ${arguments% No such device} "No such device"; else camera $arguments; fi
  check "camera $arguments: exit status" 2 "$status"
  check "camera $arguments: one line" 1 "$(wc -l <"$work/err")"
  check "camera $arguments: no call" "" "$(calls)"
done
grep -qF '"No such device" is not a Dorvantel device' "$work/err" && pass "an unknown name is named" || fail "unknown name: $(cat "$work/err")"

# No platform: Wine's own (it has no mfsensorgroup.dll), and a library that is not there.
line="Windows cameras need Windows 11 (build 22000 or later); this system has none: DirectShow programs still see the device"
for platform in "Wine's own" "a missing library"; do
  if [ "$platform" = "Wine's own" ]; then unset DORVANTEL_MFSENSORGROUP; else export DORVANTEL_MFSENSORGROUP='C:\nowhere\mfsensorgroup.dll'; fi
  for action in on off status; do
    camera "$action" --name "Dorvantel cam"
    check "$platform: camera $action says the one line" "$line" "$(cat "$work/err")"
    check "$platform: camera $action: exit status" 3 "$status"
    check "$platform: camera $action: nothing changed" "" "$(state)"
  done
  "$ROOT/scripts/wine-run" "$tool/dorvantel-register.exe" check --this-bitness >"$work/check" 2>&1
  check "$platform: the check's line for each device" 2 "$(tr -d '\r' <"$work/check" | grep -cx '  Windows camera: not available on this system')"
done
check "no platform: no feed started" "" "$(grep '^feed \[' "$log")"

echo "$failures failed"
[ "$failures" = 0 ]
