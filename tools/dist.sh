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
#   DIST_VERSION=V  packages the built DLLs as version V instead of
#                   CARDKEEP_VERSION (the installer test makes the next
#                   version's package this way, to upgrade to it)
#   DIST_OUT=DIR    writes the packages in DIR instead of build/dist
set -euo pipefail
source "$(dirname "$0")/lib.sh"
out=${DIST_OUT:-$CARDKEEP_ROOT/build/dist}
CARDKEEP_VERSION=${DIST_VERSION:-$CARDKEEP_VERSION}
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

# name_uuid NAMESPACE NAME: the name-based UUID (SHA-1, version 5) of NAME in
# the namespace of the UUID NAMESPACE, in upper case.
name_uuid() {
  local hash
  hash=$({ printf "$(sed 's/[0-9A-Fa-f]\{2\}/\\x&/g' <<<"${1//-/}")"; printf '%s' "$2"; } | sha1sum)
  # The version (5) in the high half of byte 6, the variant (binary 10) in the top bits of byte 8.
  hash=${hash:0:12}5${hash:13:3}$(printf '%x' $(((0x${hash:16:1} & 3) | 8)))${hash:17:15}
  hash=${hash^^}
  echo "${hash:0:8}-${hash:8:4}-${hash:12:4}-${hash:16:4}-${hash:20:12}"
}

# msi_version VERSION: the package's ProductVersion for VERSION (a.b.c.d):
# a.b.(c*1000+d). Windows Installer compares only the first three fields of
# ProductVersion when it looks for an older version to remove, and so does
# Wine 8's msi (measured: a package of 1.0.0.7 with its own ProductCode
# installed beside one of 1.0.0.6, both listed), while cardkeep's versions
# differ in the fourth: so the fourth goes into the third. The build field
# is 0 in every release so far, which gives 1.0.6 for 1.0.0.6 (the version
# block's string shows 1.00.0006). The fields' limits are the installer's:
# major and minor below 256, the third below 65536.
msi_version() {
  local a b c d
  IFS=. read -r a b c d <<<"$1"
  if [[ ! $1 =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || ((a > 255 || b > 255 || c > 64 || d > 999)); then
    echo "dist: version $1 has no ProductVersion: it needs major.minor.build.revision," \
         "major and minor below 256, build below 65, revision below 1000" >&2
    return 1
  fi
  echo "$a.$b.$((c * 1000 + d))"
}

arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(x86 x64)
mkdir -p "$out"
identity=()
for name in $(identity_names); do identity+=(-D "$name=${!name}"); done
# wixl takes a file's Source relative to the working folder and rejects an
# absolute one, so it runs from the top of the tree with relative paths.
cd "$CARDKEEP_ROOT"
for arch in "${arches[@]}"; do
  case $arch in
    x86) bin=build/win32/bin upgrade=$CARDKEEP_UPGRADE_CODE_X86 ;;
    x64) bin=build/win64/bin upgrade=$CARDKEEP_UPGRADE_CODE_X64 ;;
    *) echo "dist: unknown platform $arch (x86 or x64)" >&2; exit 2 ;;
  esac
  for dll in $CARDKEEP_DLLS; do
    [ -f "$bin/$dll" ] || { echo "dist: $bin/$dll is missing: run make build first" >&2; exit 1; }
  done
  # Each is written beside its target and renamed, so a failed build never
  # leaves a half-written package under the final name.
  if [[ " ${kinds[*]} " == *" msi "* ]]; then
    msi=$out/cardkeep-$CARDKEEP_VERSION-$arch.msi
    # Each version is its own product (its own ProductCode), and a rebuild
    # of one version is the same product.
    product=(-D UpgradeCode="$upgrade" -D ProductCode="$(name_uuid "$upgrade" "$CARDKEEP_VERSION")"
             -D ProductVersion="$(msi_version "$CARDKEEP_VERSION")")
    "$wixl" -a "$arch" -D Arch="$arch" -D BinDir="$bin" "${identity[@]}" "${product[@]}" -o "$msi.$$.tmp" \
      installer/cardkeep.wxs
    mv -f "$msi.$$.tmp" "$msi"
    echo "dist: $msi"
  fi
  if [[ " ${kinds[*]} " == *" zip "* ]]; then
    zip=$out/cardkeep-$CARDKEEP_VERSION-$arch.zip
    stage=$out/zip-$arch.$$
    trap 'rm -rf "$stage" "$zip.$$.tmp"' EXIT
    rm -rf "$stage" "$zip.$$.tmp" && mkdir -p "$stage"
    for dll in $CARDKEEP_DLLS; do cp "$bin/$dll" "$stage/"; done
    tools/sxs-manifest.sh "$arch" >"$stage/cardkeep.sxs.manifest"
    # shellcheck disable=SC2086  # the list's words are the file names
    (cd "$stage" && zip -q -X "$zip.$$.tmp" cardkeep.sxs.manifest $CARDKEEP_DLLS)
    rm -rf "$stage"
    mv -f "$zip.$$.tmp" "$zip"
    echo "dist: $zip"
  fi
done
