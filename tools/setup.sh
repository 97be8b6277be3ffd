#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, and nothing
# when everything is already there. Safe to run as often as you like. Says
# one line when nothing is missing; apt's output goes to build/logs/setup.log.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

# Each entry: a command or file that proves the package is present, then the package.
need=(
  "/usr/bin/i686-w64-mingw32-g++-posix g++-mingw-w64-i686"
  "/usr/bin/x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64"
  "/usr/bin/i686-w64-mingw32-widl mingw-w64-tools"
  "/usr/bin/wine wine"
  "/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll wine32:i386"
  "/usr/lib/wine/wine64 wine64"
  "/usr/include/wine/wine/windows/oaidl.idl libwine-dev"
  "/usr/share/wine/fonts/sserife.fon fonts-wine"
  "/usr/bin/Xvfb xvfb"
  "/usr/bin/xauth xauth"
  "/usr/bin/xvfb-run xvfb"
  "/usr/bin/convert imagemagick"
  "/usr/bin/cmake cmake"
  "/usr/src/googletest/CMakeLists.txt googletest"
  "/usr/include/gtest/gtest.h libgtest-dev"
  "/usr/bin/clang++-14 clang-14"
  "/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a libclang-rt-14-dev"
  "/usr/bin/wixl wixl"
  "/usr/bin/zip zip"
  "/usr/bin/unzip unzip"
)

missing=()
for entry in "${need[@]}"; do
  probe=${entry%% *}; pkg=${entry#* }
  [ -e "$probe" ] || missing+=("$pkg")
done
# A convert that is only a stand-in does not count.
if [ -e /usr/bin/convert ] && ! /usr/bin/convert -version 2>/dev/null | grep -q ImageMagick; then
  missing+=(imagemagick)
fi
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: nothing to install (every package the build and the tests need is present)"
  exit 0
fi

mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
echo "setup: installing ${missing[*]}"
log=$CARDKEEP_ROOT/build/logs/setup.log
mkdir -p "$(dirname "$log")"
: >"$log"

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

# Copies this machine's apt sources into folder $1 with every security suite
# left out, in either format: one-line entries and deb822 stanzas.
without_security() {
  local list part
  for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$list" ] || continue
    # deb [options] URI suite components: the suite follows the options and the URI.
    awk '$1 ~ /^deb/ { o = 1; if ($2 ~ /^\[/) for (i = 2; i <= NF; i++) if ($i ~ /\]$/) { o = i; break }
                       if ($(o + 2) ~ /(-security|\/updates)$/) next } { print }' \
      "$list" >"$1/$(basename "$list")"
  done
  for part in /etc/apt/sources.list.d/*.sources; do
    [ -f "$part" ] || continue
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         { out = ""; keep = 1; m = split($0, line, "\n")
           for (i = 1; i <= m; i++) {
             if (line[i] ~ /^Suites:/) {
               k = split(substr(line[i], 8), suite, /[ \t]+/); kept = ""
               for (j = 1; j <= k; j++) if (suite[j] != "" && suite[j] !~ /-security$/) kept = kept " " suite[j]
               if (kept == "") keep = 0
               line[i] = "Suites:" kept
             }
             out = out line[i] "\n"
           }
           if (keep) printf "%s\n", out }' "$part" >"$1/$(basename "$part")"
  done
}

try_install() {
  # apt-get update may report a failed index (a mirror mid-sync) and still
  # leave usable lists behind: the install decides.
  $SUDO apt-get "$@" update -q >>"$log" 2>&1 || true
  $SUDO apt-get "$@" install -y -q --no-install-recommends "${missing[@]}" \
    fonts-wine >>"$log" 2>&1
}
installed() { echo "setup: installed (apt's output: ${log#"$CARDKEEP_ROOT"/})"; }

if try_install; then installed; exit 0; fi

# The 32-bit libraries must carry the same version as the 64-bit ones. When
# the security suite's i386 index lags its amd64 index, no matching pair
# exists; the machine's own sources without the security suites always hold
# one.
echo "setup: retrying without the security suites"
alt=$(mktemp -d)
without_security "$alt"
if try_install -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$alt"; then
  rm -rf "$alt"; installed; exit 0
fi
rm -rf "$alt"
log_tail "$log" >&2
echo "setup: could not install ${missing[*]} (apt's output: ${log#"$CARDKEEP_ROOT"/})" >&2
exit 1
