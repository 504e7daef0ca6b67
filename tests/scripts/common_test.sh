#!/usr/bin/env bash
# The shared script environment keeps its hands off what it did not make: a Wine prefix of the
# user's own survives, a caller's EXIT trap still runs, and a display that never starts is an
# error. Wine itself is stood in for, so this runs in a second.
set -uo pipefail
source "$(dirname "$0")/../../scripts/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok - $1"; else echo "FAIL - $1"; failures=$((failures + 1)); fi
}
fails() { ! "$@"; }  # in this shell, where the stand-ins are defined

# Stand-ins for Wine: the loader records what it was asked and makes a prefix as wineboot would.
wine64_loader() { echo "$work/wine64"; }
wineserver() { :; }
cat >"$work/wine64" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$WINEPREFIX/../loader-calls"
if [ "${1:-}" = wineboot ] && [ "${2:-}" = -i ]; then touch "$WINEPREFIX/system.reg"; fi
STUB
chmod +x "$work/wine64"

BUILD=$work/build
unset DORVANTEL_PREFIX_TEMPLATE  # prefixes here are made by the stand-in, never copied
export WINEPREFIX=$work/users-prefix
mkdir -p "$WINEPREFIX"
echo "the user's own" >"$WINEPREFIX/user.reg"
ensure_prefix 2>/dev/null
check "a prefix the project did not make is kept" grep -q "the user's own" "$WINEPREFIX/user.reg"
check "and nothing of the project's is written into it" test ! -e "$WINEPREFIX/.dorvantel-made"

export WINEPREFIX=$work/ours
ensure_prefix 2>/dev/null
check "a new prefix is made and marked ready" test -f "$WINEPREFIX/.dorvantel-ready"
rm "$WINEPREFIX/.dorvantel-ready"
echo stale >"$WINEPREFIX/leftover"
ensure_prefix 2>/dev/null
check "a prefix of ours whose making did not finish is made again" test ! -e "$WINEPREFIX/leftover"

export WINEPREFIX=$work/failing
wine64_loader() { echo /bin/true; }
check "a wineboot that makes no prefix is an error" fails ensure_prefix 2>/dev/null

# A display that never starts is reported, and the caller's own EXIT trap is kept.
out=$(
  unset DISPLAY
  trap 'echo caller-trap-ran' EXIT
  DORVANTEL_SCREEN=not-a-screen ensure_display 2>&1 && echo started
)
check "a display that does not start is an error" grep -q "error: Xvfb did not start" <<<"$out"
check "and is not reported as started" bash -c '! grep -q "started" <<<"$1"' _ "$out"
check "the caller's EXIT trap still runs" grep -q caller-trap-ran <<<"$out"
out=$(
  unset DISPLAY
  trap 'echo caller-trap-ran' EXIT
  ensure_display 2>/dev/null && xdpyinfo >/dev/null 2>&1 && echo display-works
)
check "a display that starts works" grep -q display-works <<<"$out"
check "and stopping it keeps the caller's EXIT trap" grep -q caller-trap-ran <<<"$out"

# The Windows ffmpeg is installed only as pinned, and never fetched twice. curl is stood in for
# by a copy of a package made here.
mkdir -p "$work/pkg/package"
echo "a program" >"$work/pkg/package/ffmpeg.exe"
tar -czf "$work/good.tgz" -C "$work/pkg" package
echo "something else" >"$work/pkg/package/ffmpeg.exe"
tar -czf "$work/other.tgz" -C "$work/pkg" package
digest() { sha512sum "$1" | cut -d' ' -f1; }
echo "a program" >"$work/program"
pins=("$(digest "$work/good.tgz")" "$(digest "$work/program")")
served=$work/good.tgz
curl() { echo fetched >>"$work/fetches"; cp "$served" "${@: -2:1}"; }
BUILD=$work/build
exe=$BUILD/hosts/ffmpeg-win64/ffmpeg.exe
install_ffmpeg_host win64 URL "${pins[@]}" 2>/dev/null
check "a package that matches its pins is installed" cmp -s "$exe" "$work/program"
install_ffmpeg_host win64 URL "${pins[@]}" 2>/dev/null
check "and is not fetched again" test "$(wc -l <"$work/fetches")" = 1
echo "damaged" >"$exe"
install_ffmpeg_host win64 URL "${pins[@]}" 2>/dev/null
check "a damaged program is fetched again" cmp -s "$exe" "$work/program"
rm -rf "$BUILD/hosts"
served=$work/other.tgz
check "a package that does not match the registry's digest is an error" \
  fails install_ffmpeg_host win64 URL "${pins[@]}" 2>/dev/null
check "and installs nothing" test -z "$(ls -A "$BUILD/hosts/ffmpeg-win64")"

# Packages: apt-get is stood in for by a script that answers each update from a list (ok, or
# the broken index a mirror can serve) and records every call.
mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$APT_STUB/calls"
case "$1" in
  update)
    answer=$(head -n 1 "$APT_STUB/updates"); sed -i 1d "$APT_STUB/updates"
    [ "$answer" = ok ] && exit 0
    echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    exit 100 ;;
  install) exit "$(cat "$APT_STUB/install")" ;;
esac
STUB
chmod +x "$work/bin/apt-get"
printf 'ID=debian\nVERSION_CODENAME=bookworm\n' >"$work/os-release"
apt_case() {  # apt_case UPDATE-ANSWERS INSTALL-STATUS: runs install_packages, sets $out and $calls
  export APT_STUB=$work/apt-$RANDOM
  mkdir -p "$APT_STUB"
  printf '%s\n' $1 >"$APT_STUB/updates"
  echo "$2" >"$APT_STUB/install"
  out=$(PATH=$work/bin:$PATH DORVANTEL_APT_PAUSE=0 DORVANTEL_OS_RELEASE=$work/os-release \
    install_packages wine32:i386 xvfb 2>&1) && out="$out
installed"
  calls=$(cat "$APT_STUB/calls")
}
apt_case "ok" 0
check "a good update installs the newest versions" \
  test "$calls" = $'update -q\ninstall -y -q --no-install-recommends wine32:i386 xvfb'
apt_case "fail ok" 0
check "an update that fails once is tried again and needs no fallback" \
  test "$calls" = $'update -q\nupdate -q\ninstall -y -q --no-install-recommends wine32:i386 xvfb'
apt_case "fail fail fail" 0
check "an update that keeps failing is tried three times" test "$(grep -c '^update' <<<"$calls")" = 3
check "then installs from the release's own suite for every architecture" \
  test "$(tail -n 1 <<<"$calls")" = "install -y -q --no-install-recommends -t bookworm wine32:i386 xvfb"
check "and names the index that failed in one line" \
  test "$(grep -c 'binary-i386/Packages.xz' <<<"$out")" = 1
check "and succeeds" grep -qx installed <<<"$out"
apt_case "ok" 100
check "an install that fails is an error" fails grep -qx installed <<<"$out"
check "that says so" grep -q "error: apt-get could not install: wine32:i386 xvfb" <<<"$out"

# A test program's start: scripts/wine-test beside a stand-in wine-run that plays each start
# from a list (silent: fails having written nothing; loud: fails after a line; ok).
mkdir -p "$work/runner"
cp "$(dirname "$0")/../../scripts/wine-test" "$work/runner/"
cat >"$work/runner/wine-run" <<'STUB'
#!/usr/bin/env bash
answer=$(head -n 1 "$STARTS"); sed -i 1d "$STARTS"
case "$answer" in
  silent) exit 3 ;;
  loud) echo "[==========] Running 2 tests"; exit 1 ;;
  ok) echo "[  PASSED  ] 2 tests."; exit 0 ;;
esac
STUB
chmod +x "$work/runner/wine-run"
start_case() {  # start_case ANSWERS...: runs wine-test, sets $status, $out and $left (starts not made)
  export STARTS=$work/starts DORVANTEL_RESTARTS=$work/restarts
  printf '%s\n' "$@" >"$STARTS"
  : >"$DORVANTEL_RESTARTS"
  out=$("$work/runner/wine-test" suite_tests.exe 2>&1)
  status=$?
  left=$(wc -l <"$STARTS")
}
start_case silent ok
check "a program that failed before writing anything is started again" test "$status/$left" = 0/0
check "and that is recorded for the run's summary" \
  grep -qx "suite_tests.exe: ended with status 3 before writing anything; started again" "$DORVANTEL_RESTARTS"
start_case loud ok
check "a program that failed after writing fails, with its status, and is not started again" \
  test "$status/$left" = 1/1
check "its output is passed on" grep -q "Running 2 tests" <<<"$out"
check "and nothing is recorded" test ! -s "$DORVANTEL_RESTARTS"
start_case silent silent ok
check "a second silent failure fails" test "$status/$left" = 3/1

# The monitors' benchmark page is written whole from the runs: a row that costs more than its
# pixels is named in the reading, and each row is held against the bare loop.
runs=$work/monitors.tsv
{
  printf 'screen\tbits\trun\tcase\tok\tsize\tframes\tseconds\tfps\tcpu_ms\txserver_ms\tpeak_mb\tmean_byte\tnote\n'
  printf 'monitors\t64\t1\tceiling-rgb32\t1\t1024x768\t300\t1.5\t200\t1.5\t1.2\t30\t80\t\n'
  printf 'monitors\t64\t1\tgrab-rgb32-thread\t1\t1024x768\t300\t1.5\t200\t1.6\t1.2\t30\t80\t\n'
  printf 'monitors\t64\t1\tfilter-rgb32-monitor2\t1\t800x600\t30\t1.5\t20\t16.0\t2.0\t30\t80\t\n'
} >"$runs"
echo "- Machine: stand-in" >"$work/machine.txt"
python3 "$(dirname "$0")/../../scripts/bench_report.py" --monitors "$runs" "$work/machine.txt" "$work/monitors.md"
check "the monitors' page names the row that costs more than its pixels" \
  grep -q 'more than three times their pixels: `filter-rgb32-monitor2`' "$work/monitors.md"
check "and holds each row against the bare loop" grep -q '^| `filter-rgb32-monitor2` | 800x600 | 20.0 | 16.00 | 33.33 | 2.00 | 0.10 | 0.06 |$' "$work/monitors.md"

# The Wine 10 platform (scripts/wine10.sh). Its mirror is the Debian archive of this machine's
# sources, in either form, the security archive and other archives aside.
source "$(dirname "$0")/../../scripts/wine10.sh"
printf 'Types: deb\nURIs: http://mirror.example/debian-security\nSuites: bookworm-security\n\nTypes: deb\n# http://snapshot.example/debian\nURIs: https://packages.example/other http://mirror.example/debian/\nSuites: bookworm\n' \
  >"$work/debian.sources"
printf '# deb http://old.example/debian bookworm main\ndeb-src http://src.example/debian bookworm main\ndeb [arch=amd64 signed-by=/k.gpg] http://list.example/debian bookworm main\n' \
  >"$work/one-line.list"
check "the mirror of a deb822 file is its Debian archive" \
  test "$(unset DORVANTEL_WINE10_MIRROR; wine10_mirror "$work/debian.sources")" = http://mirror.example/debian/
check "the mirror of a one-line file, options and all" \
  test "$(unset DORVANTEL_WINE10_MIRROR; wine10_mirror "$work/one-line.list" "$work/debian.sources")" = http://list.example/debian
check "where no file names one, deb.debian.org" \
  test "$(unset DORVANTEL_WINE10_MIRROR; wine10_mirror "$work/none.list")" = http://deb.debian.org/debian
check "DORVANTEL_WINE10_MIRROR is taken instead" \
  test "$(DORVANTEL_WINE10_MIRROR=http://given.example/debian wine10_mirror "$work/debian.sources")" = http://given.example/debian

# The display of the system's Xvfb: a number that an X server started here holds is not given,
# since the system's X sockets would meet this machine's.
n=$(wine10_free_display)
setsid Xvfb ":$n" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
check "the system's display is not one an X server here uses" test "$(wine10_free_display)" -gt "$n"
kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null

# What the run is told: the suites asked for that run on Wine 8 only, and those that cannot run
# on Wine 10 here, each in one skip line; the status and counts of a run that failed. CTest's
# list, the system's making and entering are stood in for.
wine10_case() {  # wine10_case SELECTED-SUITES...: runs wine10_tests, sets $status, $skips, $log
  (
    mkdir -p "$BUILD/win64" && touch "$BUILD/win64/CTestTestfile.cmake"
    export DORVANTEL_SKIPS=$work/skips DORVANTEL_RESTARTS=$work/restarts
    : >"$DORVANTEL_SKIPS"; : >"$DORVANTEL_RESTARTS"
    wine10_selected() { printf '%s\n' "${SELECTED[@]}"; }
    wine10_tests -j2 >"$work/wine10.out" 2>&1
    echo "$?" >"$work/status"
    echo "$WINE10_LOG" >"$work/log-name"
  )
  status=$(cat "$work/status") skips=$(cat "$work/skips")
}
SELECTED=(format capture module)
DORVANTEL_WINE10=0 wine10_case
check "DORVANTEL_WINE10=0 leaves the Wine 10 suites out, in one line, and is no failure" \
  test "$status/$skips" = "0/wine10: format: run on Wine 8 only
wine10: capture, module: DORVANTEL_WINE10=0 (the Wine 10 run switched off)"
check "and there is no log to count" test -z "$(cat "$work/log-name")"
id() { echo 1000; }
wine10_case
check "without root they are left out" grep -qx "wine10: capture, module: needs root .*" <<<"$skips"
unset -f id
id() { echo 0; }
wine10_make() { return 1; }
wine10_case
check "a system that cannot be made leaves them out, with where to look" \
  grep -qx "wine10: capture, module: the Debian 13 system could not be made (see .*/make.log)" <<<"$skips"
check "and is no failure" test "$status" = 0
wine10_make() { return 0; }
wine10_enter() {  # plays a run with one suite failed and one part left out
  local a
  for a in "$@"; do
    case "$a" in DORVANTEL_SKIPS=*) echo "ffmpeg: no display" >>"${a#*=}" ;; esac
  done
  echo "ctest args: ${*: -4}"
  echo "50% tests passed, 1 tests failed out of 2"
  return 8
}
wine10_case
check "the suites run are the ones asked for that run on Wine 10, after the caller's arguments" \
  grep -qxF 'ctest args: --output-on-failure -j2 -R ^(capture|module)$' "$work/wine10.out"
check "a suite that fails there fails the run" test "$status" = 1
check "its counts are in the log the run counts" grep -qx "50% tests passed, 1 tests failed out of 2" "$(cat "$work/log-name")"
check "what the suites left out there is added to the run's list" grep -qx "wine10: ffmpeg: no display" <<<"$skips"
(flock 9; sleep 1) 9>>"$BUILD/wine10.lock" &
sleep 0.3
wine10_case
check "a second Wine 10 run in one build folder waits for the first" grep -q "waiting for its end" "$work/wine10.out"
check "and then runs" test "$status" = 1
SELECTED=(format)
wine10_case
check "a selection with no Wine 10 suite runs nothing there" test "$status/$skips" = "0/wine10: format: run on Wine 8 only"
unset -f id wine10_make wine10_enter

# The system's namespaces: a mount made in them is never seen here, and a process started in
# them ends with them. Root only.
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null; then
  WINE10_ROOT=$work/system
  mkdir -p "$WINE10_ROOT/mnt"
  probe="sleep 120.$$"  # a command line no other process has
  wine10_isolated sh -c 'mount -t tmpfs tmpfs "$1/mnt" && touch "$1/mnt/inside" && ($2 &)' _ "$WINE10_ROOT" "$probe"
  check "a mount made in the system's namespaces is not seen outside" test -z "$(wine10_mounts)"
  check "nor what was written on it" test ! -e "$WINE10_ROOT/mnt/inside"
  check "and what the command started has ended with it" fails pgrep -fx "$probe"
else
  echo "skip - the system's namespaces: needs root"
fi

# The documents: their relative links resolve, and the README's layout table is complete.
check "the documents' links and layout table" "$(dirname "$0")/docs_test.sh"

echo "$failures failed"
exit $((failures > 0))
