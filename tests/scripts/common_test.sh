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

# The documents: their relative links resolve, and the README's layout table is complete.
check "the documents' links and layout table" "$(dirname "$0")/docs_test.sh"

echo "$failures failed"
exit $((failures > 0))
