#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, and nothing
# when everything is already there. Safe to run as often as you like.
set -euo pipefail

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
[ ${#missing[@]} -eq 0 ] && exit 0

mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
echo "setup: installing ${missing[*]}"

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

try_install() {
  # apt-get update may report a failed index (a mirror mid-sync) and still
  # leave usable lists behind: the install decides.
  $SUDO apt-get "$@" update -q >/dev/null 2>&1 || true
  $SUDO apt-get "$@" install -y -q --no-install-recommends "${missing[@]}" \
    fonts-wine >/tmp/cardkeep-apt.log 2>&1
}

if try_install; then exit 0; fi

# The 32-bit libraries must carry the same version as the 64-bit ones. When
# the security suite's i386 index lags its amd64 index, no matching pair
# exists; the main suites alone always hold one.
echo "setup: retrying from the main suites only"
alt=$(mktemp -d)
cat >"$alt/main.sources" <<'EOF'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
if try_install -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$alt"; then
  rm -rf "$alt"; exit 0
fi
rm -rf "$alt"
tail -n 30 /tmp/cardkeep-apt.log >&2
echo "setup: could not install ${missing[*]}" >&2
exit 1
