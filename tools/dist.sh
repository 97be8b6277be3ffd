#!/usr/bin/env bash
# Builds the two Windows Installer packages and the two zips for
# registration-free use from the built DLLs:
#   build/dist/cardkeep-VERSION-x86.msi, .zip  from build/win32/bin
#   build/dist/cardkeep-VERSION-x64.msi, .zip  from build/win64/bin
# A zip holds the three DLLs and their assembly manifest,
# cardkeep.sxs.manifest (tools/sxs-manifest.sh), to be unpacked into a
# host's folder (docs/hosts.md, "Without registration").
# The packages come from installer/cardkeep.wxs; wixl runs on Linux, so no Windows
# tool is needed. The version and the identifiers the package registers come
# from identity.env, given to the package source as preprocessor variables
# of the same names ($(var.CARDKEEP_VERSION), $(var.CARDKEEP_CLSID_WALLET)
# and so on). A package is only built when its three DLLs are there, and a
# missing one is an error: a package without its libraries is worthless.
# Usage: tools/dist.sh [--msi|--zip] [x86|x64]...   (default: both kinds, both platforms)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
out=$CARDKEEP_ROOT/build/dist
wixl=${WIXL:-wixl}
kinds=(msi zip)
case ${1:-} in
  --msi) kinds=(msi); shift ;;
  --zip) kinds=(zip); shift ;;
esac
for kind in "${kinds[@]}"; do
  tool=zip
  [ "$kind" = msi ] && tool=$wixl
  command -v "$tool" >/dev/null || { echo "dist: $tool not found (tools/setup.sh installs it)" >&2; exit 1; }
done

arches=("$@")
dlls=(KORVEX11.dll KORVEX10.dll cardkeep.dll)
[ ${#arches[@]} -gt 0 ] || arches=(x86 x64)
mkdir -p "$out"
identity=()
for name in $(identity_names); do identity+=(-D "$name=${!name}"); done
# wixl takes a file's Source relative to the working folder and rejects an
# absolute one, so it runs from the top of the tree with relative paths.
cd "$CARDKEEP_ROOT"
for arch in "${arches[@]}"; do
  case $arch in
    x86) bin=build/win32/bin ;;
    x64) bin=build/win64/bin ;;
    *) echo "dist: unknown platform $arch (x86 or x64)" >&2; exit 2 ;;
  esac
  for dll in "${dlls[@]}"; do
    [ -f "$bin/$dll" ] || { echo "dist: $bin/$dll is missing: run make build first" >&2; exit 1; }
  done
  # Each is written beside its target and renamed, so a failed build never
  # leaves a half-written package under the final name.
  if [[ " ${kinds[*]} " == *" msi "* ]]; then
    msi=$out/cardkeep-$CARDKEEP_VERSION-$arch.msi
    "$wixl" -a "$arch" -D Arch="$arch" -D BinDir="$bin" "${identity[@]}" -o "$msi.$$.tmp" installer/cardkeep.wxs
    mv -f "$msi.$$.tmp" "$msi"
    echo "dist: $msi"
  fi
  if [[ " ${kinds[*]} " == *" zip "* ]]; then
    zip=$out/cardkeep-$CARDKEEP_VERSION-$arch.zip
    stage=$out/zip-$arch.$$
    trap 'rm -rf "$stage" "$zip.$$.tmp"' EXIT
    rm -rf "$stage" "$zip.$$.tmp" && mkdir -p "$stage"
    cp "${dlls[@]/#/$bin/}" "$stage/"
    tools/sxs-manifest.sh "$arch" >"$stage/cardkeep.sxs.manifest"
    (cd "$stage" && zip -q -X "$zip.$$.tmp" cardkeep.sxs.manifest "${dlls[@]}")
    rm -rf "$stage"
    mv -f "$zip.$$.tmp" "$zip"
    echo "dist: $zip"
  fi
done
