#!/usr/bin/env bash
# Builds the Windows package from the sources: both bitnesses, then
# OUT/dorvantel-VERSION-setup.exe (installer/dorvantel.nsi, NSIS) and
# OUT/dorvantel-VERSION-portable.zip of the same files. OUT defaults to dist/.
#   scripts/package.sh [OUT]
set -euo pipefail
source "$(dirname "$0")/common.sh"
out=$(mkdir -p "${1:-$ROOT/dist}" && cd "${1:-$ROOT/dist}" && pwd)

# The version is the version resource's; its numeric form must say the same.
rc=$ROOT/module/version.rc
version=$(sed -n 's/^ *VALUE "ProductVersion", "\([0-9.]*\)".*/\1/p' "$rc")
numeric=$(sed -n 's/^PRODUCTVERSION \([0-9]*\),\([0-9]*\),.*/\1.\2/p' "$rc")
if [ -z "$version" ] || [ "$version" != "$numeric" ]; then
  log "error: $rc: ProductVersion \"$version\" and PRODUCTVERSION $numeric differ"
  exit 1
fi

shipped=(dorvantel-register dorvantel-record dorvantel-settings dorvantel-feed)
build_bits 64 --target dorvantel64 "${shipped[@]}"
build_bits 32 --target dorvantel "${shipped[@]}"

name=dorvantel-$version
stage=$BUILD/package/$name
rm -rf "$stage"
mkdir -p "$stage/64-bit" "$stage/32-bit"
cp "$ROOT/README.md" "$ROOT/LICENSE" "$stage/"
cp "$BUILD/win64/dorvantel64.dll" "$stage/64-bit/"
cp "$BUILD/win32/dorvantel.dll" "$stage/32-bit/"
for program in "${shipped[@]}"; do
  cp "$BUILD/win64/$program.exe" "$stage/64-bit/"
  cp "$BUILD/win32/$program.exe" "$stage/32-bit/"
done
# The builds keep their debugging information; what is shipped does not.
x86_64-w64-mingw32-strip --strip-debug "$stage"/64-bit/*
i686-w64-mingw32-strip --strip-debug "$stage"/32-bit/*

rm -f "$out/$name-setup.exe" "$out/$name-portable.zip"
makensis -V2 -NOCD -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$out/$name-setup.exe" \
  "$ROOT/installer/dorvantel.nsi"
(cd "$BUILD/package" && zip -q -r -X "$out/$name-portable.zip" "$name")
log "packaged: $out/$name-setup.exe $out/$name-portable.zip"
