#!/usr/bin/env bash
# The register tool as a user meets it: its check reads a registry broken on purpose by hand
# (a device's library missing or of the other bitness, a stored value the filter refuses, a
# window preset whose window is closed, a key left half-registered) and says so in words with
# its exit status; another program's device is never touched; names past the limit are refused.
#   check.sh BUILD_DIR    (the build folder of one bitness, e.g. build/win64)
set -uo pipefail
source "$(dirname "$0")/../support/checks.sh" "$1"
if objdump -f "$dir/dorvantel-register.exe" | grep -q x86-64; then bits=64 other=32; else bits=32 other=64; fi
if [ "$bits" = 32 ] && i386_emulated; then
  skip "the 32-bit register tool's check: threaded (qemu's 32-bit Wine does not survive threads)"
  exit 0
fi
work=$(mktemp -d "$dir/register-check.XXXXXX")
instances='HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance'
class='HKCR\CLSID\{924BCD16-2927-4D6B-A385-476A9C4D41B7}'
register() { timeout 120 "$ROOT/scripts/wine-run" "$dir/dorvantel-register.exe" "$@"; }
# The list into $work/list. A start that writes nothing at all is Wine's start failing before the
# program ran (scripts/wine-test says more): said, and started once more.
list_devices() {
  register list >"$work/list" 2>"$work/err"
  local status=$?
  [ -s "$work/list" ] && return "$status"
  echo "dorvantel-register list: wrote nothing, status $status; started again" | tee -a "${DORVANTEL_RESTARTS:-/dev/null}"
  register list >"$work/list" 2>"$work/err"
}
reg_() { winreg "$@" /reg:$bits >/dev/null 2>&1; }
cleanup() {
  register unregister --all >/dev/null 2>&1
  reg_ delete "$instances\\OtherCam" /f
  rm -rf "$work"
  if [ -n "${XVFB_PID:-}" ]; then stop_session; fi
}
trap cleanup EXIT
register unregister --all >/dev/null 2>&1
# check [ARGS]: its report in $work/out (without carriage returns), its status in $status.
check_() { register check --this-bitness "$@" >"$work/out" 2>"$work/err"; status=$?; sed -i 's/\r$//' "$work/out"; }
has_in() {  # has_in DESCRIPTION FILE TEXT: FILE holds TEXT within a line
  grep -qF -- "$3" "$2" && pass "$1" || fail "$1: no '$3' in: $(cat "$2")"
}
has() {  # has DESCRIPTION TEXT: the report holds the line TEXT
  grep -qxF -- "$2" "$work/out" && pass "$1" || fail "$1: no line '$2' in: $(cat "$work/out" "$work/err")"
}

# A healthy machine: a rectangle preset gives a frame of its size.
register register --name "Dorvantel check" --rect 0,0,320,240 2>"$work/err"
check_ --report "$(winpath "$work/report.txt")"
check "healthy: exit status" 0 "$status"
check "healthy: --report writes the same words" "$(cat "$work/out")" "$(tr -d '\r' <"$work/report.txt" 2>&1)"
has "healthy: the device works" "\"Dorvantel check\" (Dorvantel): $bits-bit programs see it; it works"
has "healthy: the summary" "summary: 1 Dorvantel device, 1 working for $bits-bit programs"
register check --bogus >/dev/null 2>&1
check "bad options: exit status" 2 $?
# Help asked for in any of the usual ways is the usage and success; a mistake is the usage and 2.
for asked in "--help" "-h" "help" "register --help" "unregister --help" "check -h"; do
  # shellcheck disable=SC2086
  register $asked >/dev/null 2>"$work/err"
  check "help ($asked): exit status" 0 $?
  has_in "help ($asked): the usage" "$work/err" "usage: dorvantel-register register"
done
register frobnicate >/dev/null 2>"$work/err"
check "unknown command: exit status" 2 $?
has_in "unknown command: says so" "$work/err" "error: unknown command frobnicate"

# So does a monitor preset whose monitor is not there.
register register --name "Dorvantel monitor" --monitor 9 2>"$work/err"
check_
check "missing monitor: exit status" 0 "$status"
has_in "missing monitor: says so" "$work/out" "  $bits-bit programs: there is no monitor 9: the desktop has monitor"
has_in "missing monitor: and what programs get" "$work/out" "; programs get black frames until it is connected"
register unregister --name "Dorvantel monitor" 2>"$work/err"

# A window preset whose window is closed says so and is not a failure.
register register --name "Dorvantel window" --window "No window has this title" 2>"$work/err"
check_
check "closed window: exit status" 0 "$status"
has "closed window: says so" "  $bits-bit programs: it captures the window \"No window has this title\", which is not open now: programs get its frames once it is"

# Stored values the filter refuses, written by hand: a rate of 0, a size above the limit.
register register --name "Dorvantel zero" 2>"$work/err"
reg_ add "$instances\\Dorvantel zero" /v FrameRate /t REG_DWORD /d 0 /f
register register --name "Dorvantel huge" 2>"$work/err"
reg_ add "$instances\\Dorvantel huge" /v OutputDimensions /t REG_SZ /d 9000x9000 /f
check_
check "refused values: exit status" 1 "$status"
grep -q "^  $bits-bit programs: programs cannot open it: .*FrameRate" "$work/out" &&
  pass "refused values: the rate of 0 is named" || fail "refused values: rate: $(cat "$work/out")"
grep -q "^  $bits-bit programs: programs cannot open it: .*9000x9000" "$work/out" &&
  pass "refused values: the size above the limit is named" || fail "refused values: size: $(cat "$work/out")"
has "refused values: the healthy device still works" "\"Dorvantel check\" (Dorvantel): $bits-bit programs see it; it works"
register unregister --name "Dorvantel zero" 2>/dev/null
register unregister --name "Dorvantel huge" 2>/dev/null

# The library the class names: missing, then one of the other bitness (a PE header will do).
reg_ add "$class\\InprocServer32" /ve /d 'C:\nowhere\dorvantel.dll' /f
check_
check "missing library: exit status" 1 "$status"
has "missing library: says so" "  $bits-bit programs: its library C:\\nowhere\\dorvantel.dll is missing (moved or deleted): register the device again with the dorvantel-register beside the library"
machine='\x4c\x01'; [ "$other" = 64 ] && machine='\x64\x86'
{ printf 'MZ'; head -c 58 /dev/zero; printf '\x40\x00\x00\x00PE\x00\x00'"$machine"; head -c 64 /dev/zero; } >"$work/other.dll"
reg_ add "$class\\InprocServer32" /ve /d "$(winpath "$work/other.dll")" /f
check_
check "wrong bitness: exit status" 1 "$status"
grep -q "^  $bits-bit programs: its library .*other.dll is a $other-bit library, which $bits-bit programs cannot load" "$work/out" &&
  pass "wrong bitness: says so" || fail "wrong bitness: $(cat "$work/out")"
register register --name "Dorvantel check" --rect 0,0,320,240 2>"$work/err"

# Names: the limit and one past it (every length: the register suite).
register register --name "$(printf 'L%.0s' $(seq 64))" 2>"$work/err"
check "a name of 64 characters: exit status" 0 $?
register register --name "$(printf 'L%.0s' $(seq 65))" 2>"$work/err"
check "a name of 65 characters: exit status" 2 $?
check "a name of 65 characters: one line" 1 "$(grep -c 'at most 64 characters' "$work/err")"

# A key of ours left half-registered, with a name no tool accepts.
long=$(printf 'H%.0s' $(seq 120))
reg_ add "$instances\\$long" /v CLSID /d '{924BCD16-2927-4D6B-A385-476A9C4D41B7}' /f
list_devices
check "half-registered: list's exit status" 0 $?
grep -q "half-registered" "$work/list" && pass "half-registered: list reports it" || fail "half-registered: $(cat "$work/list")"
check_
check "half-registered: the check's exit status" 1 "$status"
grep -q "^  $bits-bit programs: programs do not list it: .*half-registered" "$work/out" &&
  pass "half-registered: the check reports it" || fail "half-registered: $(cat "$work/out")"

# Another program's device: left as it was by register, unregister and --all.
reg_ add "$instances\\OtherCam" /v CLSID /d '{6A1B7E10-33C4-4B8E-9F21-0C5D7E1A2B3C}' /f
reg_ add "$instances\\OtherCam" /v FriendlyName /d 'Other Camera' /f
before=$(winreg query "$instances\\OtherCam" /reg:$bits 2>/dev/null)
for name in OtherCam "Other Camera"; do
  register register --name "$name" 2>"$work/err"
  check "another program's $name: register's exit status" 1 $?
  grep -q 'taken by another program.s video capture device "Other Camera"' "$work/err" &&
    pass "another program's $name: register says why" || fail "another program's $name: $(cat "$work/err")"
  register unregister --name "$name" 2>"$work/err"
  check "another program's $name: unregister's exit status" 1 $?
  grep -q "another program" "$work/err" && pass "another program's $name: unregister says why" ||
    fail "another program's $name: $(cat "$work/err")"
done
list_devices
grep -A1 -x "Other Camera" <(tr -d '\r' <"$work/list") | grep -qx "  (another program's device)" &&
  pass "list marks another program's device" || fail "list: $(cat "$work/list")"
check_
has "the check marks another program's device" "\"Other Camera\": another program's device; $bits-bit programs see it (not checked)"
register unregister --all 2>"$work/err"
check "unregister --all: exit status" 0 $?
list_devices
grep -q "^[DLH]" "$work/list" && fail "unregister --all left: $(cat "$work/list")" || pass "unregister --all removes ours"
check "another program's device: untouched" "$before" "$(winreg query "$instances\\OtherCam" /reg:$bits 2>/dev/null)"

# Both views: each bitness's tool checks its own.
other_tool="$(dirname "$dir")/win$other/dorvantel-register.exe"
if [ ! -f "$other_tool" ] || i386_emulated; then
  skip "the check of both views: the $other-bit register tool $( [ -f "$other_tool" ] || echo 'is not built'; i386_emulated && echo 'runs through qemu here, about a minute per start, and does not survive threads')"
else
  register register --name "Dorvantel both" 2>/dev/null
  "$ROOT/scripts/wine-run" "$other_tool" register --name "Dorvantel both" 2>/dev/null
  register register --name "Dorvantel one" 2>/dev/null
  register check >"$work/out" 2>"$work/err"
  status=$?
  sed -i 's/\r$//' "$work/out"
  check "one view only: exit status" 1 "$status"
  has "both views: seen by both" "\"Dorvantel both\" (Dorvantel): 64-bit and 32-bit programs see it; it works"
  has "one view only: says which" "  $other-bit programs: it is not registered for them: register it with the $other-bit dorvantel-register, or save it again in Dorvantel settings"
  "$ROOT/scripts/wine-run" "$other_tool" unregister --all >/dev/null 2>&1
fi

echo "$failures failed"
[ "$failures" = 0 ]
