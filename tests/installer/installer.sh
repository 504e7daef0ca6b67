#!/usr/bin/env bash
# The setup program as a user runs it, in a new Wine prefix (a copy of the build's ready one):
# a silent install into a folder whose name has spaces and non-Latin letters, where ffmpeg of
# each bitness finds the device and records from it, and the check the setup program ends with
# says so in the installation folder; a silent uninstall that leaves the folder gone, the
# registry as it was and nothing of ours for the check; an install over an installation, one that finds it by
# itself and one that moves it, then a second uninstall: one device at every step, nothing
# left. On a 32-bit Windows (a new 32-bit prefix) the 32-bit part alone. Where 32-bit code is
# emulated (about a minute per 32-bit program start, and the setup program is one) the
# install, the 64-bit host and the uninstall run once; the 32-bit hosts, the installs over an
# installation and the 32-bit Windows are left out.
#   installer.sh BUILD_DIR    (the 64-bit build folder; scripts/package.sh builds both)
set -uo pipefail
dir=$(cd "$1" && pwd)
work=$(mktemp -d "$dir/installer.XXXXXX")
if [ -f "$(dirname "$dir")/wineprefix/.dorvantel-ready" ]; then
  export DORVANTEL_PREFIX_TEMPLATE=$(dirname "$dir")/wineprefix
fi
export DORVANTEL_WINEPREFIX=$work/prefix
export LC_ALL=C.UTF-8  # Wine reads the non-ASCII folder name from its arguments in UTF-8
# A Start menu entry would also become a menu entry of the Linux desktop: not from a test.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=};winemenubuilder.exe=d"
source "$(dirname "$0")/../support/checks.sh" "$1"
cleanup() {
  if [ -d "$work/prefix32" ]; then WINEPREFIX=$work/prefix32 wineserver -k >/dev/null 2>&1; fi
  WINEPREFIX=$work/prefix stop_session
  rm -rf "$work"
}
trap cleanup EXIT
windows=$(wine64_loader)  # runs Windows' own programs (cmd, reg) of the prefix's bitness
runner=$ROOT/scripts/wine-run  # runs a program of either bitness (in a 64-bit prefix)

bash "$ROOT/scripts/package.sh" "$work/dist" >"$work/package.log" 2>&1 \
  || { echo "FAIL - scripts/package.sh: $(tail -n 3 "$work/package.log")"; exit 1; }
setup=$(winpath "$(ls "$work"/dist/dorvantel-*-setup.exe)")
# The portable zip carries the same top-level files as the installation.
zipped=$(python3 -m zipfile -l "$(ls "$work"/dist/dorvantel-*-portable.zip)")
for part in README.md LICENSE 64-bit/dorvantel64.dll 32-bit/dorvantel.dll; do
  grep -q "^dorvantel-[0-9.]*/$part " <<<"$zipped" || fail "not in the portable zip: $part"
done
folder='C:\Program Files\Dorvantel Größe Захват'
moved='C:\Dorvantel ünd Ort'
unix() { local p=${1#C:}; printf '%s' "$WINEPREFIX/drive_c${p//\\//}"; }
# The settings program's entry in every user's Start menu.
shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Dorvantel\Dorvantel settings.lnk'

hosts="64 32"
emulated=0
if i386_emulated; then hosts=64 emulated=1; fi
emulation="32-bit programs run through qemu here, about a minute per start"
# install [/D=FOLDER]: the command line a user types; NSIS takes /D= unquoted, so through cmd.
install() { "$windows" cmd /c "$setup /S $*" >"$work/install.log" 2>&1; }
# The uninstaller hands the work to a copy of itself and returns: its work is waited for.
uninstall() {  # uninstall FOLDER
  "$runner" "$(unix "$1")/uninstall.exe" /S >"$work/uninstall.log" 2>&1 || return 1
  local polls=600  # a minute; where each 32-bit start takes a minute, the copy's work takes minutes
  if [ "$emulated" = 1 ]; then polls=6000; fi
  for _ in $(seq "$polls"); do [ ! -e "$(unix "$1")" ] && ! entry >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Dorvantel'
entry() { "$windows" reg query "$uninstall_key" "$@"; }
# The keys an installation touches, in both views; "absent" for one that is not there.
snapshot() {
  local key
  for key in 'HKLM\Software\Classes\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}' \
             'HKLM\Software\Classes\Wow6432Node\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}' \
             'HKLM\Software\Classes\CLSID\{924BCD16-2927-4D6B-A385-476A9C4D41B7}' \
             'HKLM\Software\Classes\Wow6432Node\CLSID\{924BCD16-2927-4D6B-A385-476A9C4D41B7}' \
             'HKLM\Software\Classes\CLSID\{3A499195-E1E6-487A-A238-7FF89B93A60B}' \
             'HKLM\Software\Classes\Wow6432Node\CLSID\{3A499195-E1E6-487A-A238-7FF89B93A60B}' \
             'HKLM\Software\Classes\CLSID\{F2CC9C80-1DE3-4D6B-900E-F89A429C3E68}' \
             'HKLM\Software\Classes\Wow6432Node\CLSID\{F2CC9C80-1DE3-4D6B-900E-F89A429C3E68}' \
             'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
             'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'; do
    if "$windows" reg export "$key" "$work/key.reg" /y >/dev/null 2>&1; then
      iconv -f UTF-16 -t UTF-8 "$work/key.reg"
    else
      echo "$key absent"
    fi
  done >"$1"
}
# devices BITS: how many video capture devices named Dorvantel that bitness enumerates.
devices() { "$runner" "$BUILD/win$1/dorvantel-register.exe" list 2>/dev/null | grep -cx Dorvantel; }
one_device_each() {  # one_device_each WHEN EXPECTED
  local bits
  for bits in $hosts; do check "$1: $bits-bit hosts enumerate Dorvantel $2 time(s)" "$2" "$(devices "$bits")"; done
}
gone() {  # gone WHEN FOLDER: no folder, the registry as before, no device
  check "$1: the program folder is gone" absent "$([ -e "$(unix "$2")" ] && echo present || echo absent)"
  check "$1: the Start menu entry is gone" absent "$([ -e "$(unix "$shortcut")" ] && echo present || echo absent)"
  snapshot "$work/after.reg"
  if cmp -s "$work/before.reg" "$work/after.reg"; then pass "$1: the registry is as before the install"
  else fail "$1: the registry differs: $(diff "$work/before.reg" "$work/after.reg" | head -n 12 | tr '\n' ' ')"; fi
  one_device_each "$1" 0
}

# A clean start: no registration left in the copied prefix (a copy taken while the shared
# prefix's server runs may still hold another test's presets); the enumerators have run once.
# One registration and its removal first: the filter mapper leaves the device category's empty
# Instance key behind in a view that never had a device, and that key is the platform's, not
# the installer's.
for bits in $hosts; do
  "$ROOT/scripts/wine-run" "$BUILD/win$bits/dorvantel-register.exe" register >/dev/null 2>&1
  "$ROOT/scripts/wine-run" "$BUILD/win$bits/dorvantel-register.exe" unregister --all >/dev/null 2>&1
  devices "$bits" >/dev/null
done
if [ "$emulated" = 1 ]; then
  # The 32-bit register tool is not started here (a minute through qemu), but the setup
  # program starts it: the key its removal leaves in the 32-bit view is made as it would be.
  "$windows" reg add 'HKLM\Software\Classes\Wow6432Node\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance' /f >/dev/null 2>&1
fi
snapshot "$work/before.reg"

install "/D=$folder" && pass "a silent install into '$folder'" || fail "the install failed: $(cat "$work/install.log")"
for part in 64-bit/dorvantel64.dll 64-bit/dorvantel-register.exe 64-bit/dorvantel-record.exe 64-bit/dorvantel-settings.exe \
            64-bit/dorvantel-feed.exe 32-bit/dorvantel-feed.exe \
            32-bit/dorvantel.dll 32-bit/dorvantel-register.exe 32-bit/dorvantel-record.exe 32-bit/dorvantel-settings.exe \
            README.md LICENSE uninstall.exe; do
  [ -f "$(unix "$folder")/$part" ] || fail "not installed: $part"
done
check "the Start menu entry of the settings program" present \
  "$([ -f "$(unix "$shortcut")" ] && echo present || echo absent)"
entry >"$work/entry" 2>&1
for value in DisplayName DisplayVersion Publisher UninstallString QuietUninstallString EstimatedSize InstallLocation; do
  grep -q "^ *$value " "$work/entry" || fail "the uninstall entry has no $value"
done
snapshot "$work/installed.reg"
check "the uninstall entry's quiet uninstall command" 1 \
  "$(grep -cF "\"QuietUninstallString\"=\"\\\"${folder//\\/\\\\}\\\\uninstall.exe\\\" /S\"" "$work/installed.reg")"
check "each view's classes (the filter's, its page's and the camera's) name its own bitness's library" 6 \
  "$(grep -cF -e "@=\"${folder//\\/\\\\}\\\\64-bit\\\\dorvantel64.dll\"" -e "@=\"${folder//\\/\\\\}\\\\32-bit\\\\dorvantel.dll\"" "$work/installed.reg")"
one_device_each "installed" 1
# The setup program ended with the check: its words in the installation folder, the summary last.
summary=$(tr -d '\r' <"$(unix "$folder")/check.txt" 2>/dev/null | tail -n 1)
if [ "$emulated" = 1 ]; then  # the 32-bit tool's check may not survive qemu's threads
  [[ "$summary" == "summary: 1 Dorvantel device, 1 working for 64-bit"* ]] \
    && pass "the check after the install: $summary" || fail "the check after the install: '$summary'"
else
  check "the check after the install" "summary: 1 Dorvantel device, 1 working for 64-bit and 32-bit programs" "$summary"
fi

for bits in $hosts; do
  "$ROOT/scripts/wine-ffmpeg" "$bits" -hide_banner -nostdin -y -f dshow -i video=Dorvantel -frames:v 5 \
    -f framecrc "$(winpath "$work/host$bits.crc")" 2>"$work/host$bits.log"
  check "$bits-bit ffmpeg records 5 frames from the installed device" 5 "$(grep -vc '^#' "$work/host$bits.crc" 2>/dev/null)"
done

uninstall "$folder" && pass "a silent uninstall" || fail "the uninstall did not finish: $(cat "$work/uninstall.log")"
gone "uninstalled" "$folder"
# The check (the build's tool, both views where 32-bit code runs natively) finds nothing of ours.
scope=""; [ "$emulated" = 1 ] && scope=--this-bitness
"$runner" "$BUILD/win64/dorvantel-register.exe" check $scope 2>&1 | tr -d '\r' >"$work/check.out"
check "uninstalled: the check finds no device of ours" \
  "summary: no Dorvantel device is registered: programs find none (dorvantel-register register makes one)" \
  "$(cat "$work/check.out")"

if [ "$emulated" = 1 ]; then
  skip "32-bit ffmpeg and the 32-bit register tool: $emulation"
  skip "installs over an installation, the moved installation, the 32-bit Windows: $emulation"
  echo "$failures failed"
  [ "$failures" = 0 ]; exit
fi

# Over an existing installation: with the same folder, without one (the installation's own
# folder is kept), with another (the installation moves there).
install "/D=$folder" && install && pass "installs over an installation, in its folder" || fail "a second install failed: $(cat "$work/install.log")"
check "an install without a folder upgrades in place" "present absent" \
  "$([ -f "$(unix "$folder")/uninstall.exe" ] && echo present || echo absent) $([ -e "$(unix 'C:\Program Files\Dorvantel')" ] && echo present || echo absent)"
one_device_each "installed over" 1
install "/D=$moved" && pass "an install into another folder" || fail "an install into another folder failed: $(cat "$work/install.log")"
check "moves the installation: the old folder gone, the new one there" "absent present" \
  "$([ -e "$(unix "$folder")" ] && echo present || echo absent) $([ -f "$(unix "$moved")/64-bit/dorvantel64.dll" ] && echo present || echo absent)"
one_device_each "moved" 1
uninstall "$moved" && pass "the second uninstall" || fail "the second uninstall did not finish: $(cat "$work/uninstall.log")"
gone "uninstalled again" "$moved"

# A 32-bit Windows: one registry view, the 32-bit part alone, in the folder given.
export WINEARCH=win32 WINEPREFIX=$work/prefix32 windows=wine runner=wine hosts=32
wine wineboot -i >/dev/null 2>&1; wineserver -w
install "/D=$folder" && pass "32-bit Windows: a silent install" || fail "32-bit Windows: the install failed: $(cat "$work/install.log")"
check "32-bit Windows: the 32-bit part alone" "present absent" \
  "$([ -f "$(unix "$folder")/32-bit/dorvantel.dll" ] && echo present || echo absent) $([ -e "$(unix "$folder")/64-bit" ] && echo present || echo absent)"
one_device_each "32-bit Windows" 1
uninstall "$folder" && pass "32-bit Windows: a silent uninstall" || fail "32-bit Windows: the uninstall did not finish"
check "32-bit Windows: the program folder is gone, the device too" "absent 0" \
  "$([ -e "$(unix "$folder")" ] && echo present || echo absent) $(devices 32)"
wineserver -k

echo "$failures failed"
[ "$failures" = 0 ]
