#!/usr/bin/env bash
# Fails when README.md or a page under docs/ names a file or folder of the
# tree that is not there: a reader who follows the docs must find what they
# name. Usage: check_paths.sh [ROOT] (the top of the tree; by default the
# one this script is in).
#
# What is read: every inline code span (`...`) outside fenced blocks, word by
# word, and the target of every relative Markdown link. A word counts as a
# path when it contains a "/" or ends in an extension of the tree's sources
# (.cpp .h .cmake .sh .md .idl .rc .def .wxs .vbs .js .env .png .txt);
# `VAR=value` and `-DVAR=value` are read for their value. Words with
# placeholders or other characters no path of ours has (`<file>.lock`,
# `\`, `…`, `~`) are not paths. A path is found when it exists from the top
# of the tree or ends a path of the tree (`ini/core/` for
# companions/korvex10/ini/core/); a name ending in "/" must be a folder; a
# glob (`*`) must match something; a bare file name must be some file's
# name, unless it is a file the build makes (kGenerated below).
#
# Paths under build/ (and `bin/...`, a build tree's own folder) are what a
# build makes, not the tree: only their first folder is checked, against
# the build's folders that the docs describe (kBuildFolders below).
# `win32/<name>` and `win64/<name>` are the Windows tests' CTest names: the
# name must be a test of tests/win/CMakeLists.txt. A word that starts with
# "/" is a command's switch (`/user`), never a path of the tree.
set -uo pipefail
root=$(cd "${1:-$(dirname "$0")/../..}" && pwd)

kExtensions='cpp|h|cmake|sh|md|idl|rc|def|wxs|vbs|js|env|png|txt'
# Headers and sources that widl and CMake make in the build tree.
kGenerated=(identity.h cardkeep_h.h korvex10_h.h korvex11_h.h)
# The folders of build/ that the docs describe (README's "What is built",
# tools/wine-env.sh's prefixes, tools/bench.sh, tools/dist.sh, make demo).
kBuildFolders=(win32 win64 'win*' native fuzz bench dist demo logs wineprefix32 wineprefix64)

# Every file and folder of the tree (folders with a trailing /), from its top.
mapfile -t tree < <(cd "$root" && find . \( -path ./build -o -path ./.git \) -prune -o -print |
  sed -e 's|^\./||' -e '/^\.$/d' | while IFS= read -r p; do
    if [ -d "$root/$p" ]; then echo "$p/"; else echo "$p"; fi
  done)

# The Windows tests' names, as tests/win/CMakeLists.txt registers them.
mapfile -t win_tests < <(sed -n -E \
  -e 's/.*cardkeep_(win|script)_test\(([A-Za-z0-9_]+).*/\2/p' \
  -e 's/.*add_test\(NAME \$\{T\}([A-Za-z0-9_]+).*/\1/p' "$root/tests/win/CMakeLists.txt")

# found PATH: whether PATH names something of the tree, as the header says.
found() {
  local want=$1 p
  for p in "${tree[@]}"; do
    # shellcheck disable=SC2053  # a glob in the docs is matched as a glob
    if [[ $want == */ ]]; then
      [[ $p == */ ]] || continue
      [[ $p == $want || $p == */$want ]] && return 0
    else
      [[ ${p%/} == $want || ${p%/} == */$want ]] && return 0
    fi
  done
  return 1
}

is_generated() {
  local g
  for g in "${kGenerated[@]}"; do [ "$1" = "$g" ] && return 0; done
  return 1
}

# build_output PATH: 0 when PATH is under build/ or bin/ (a build's output),
# with problem set when its first folder is none the docs describe.
build_output() {
  local p=$1 folder f
  problem=
  case $p in
    bin/*) return 0 ;;
    build/*) ;;
    *) return 1 ;;
  esac
  folder=${p#build/}
  folder=${folder%%/*}
  [ -z "$folder" ] && return 0
  for f in "${kBuildFolders[@]}"; do [ "$folder" = "$f" ] && return 0; done
  problem="build/$folder/ is no folder the build makes"
  return 0
}

failures=0
checked=0
# check DOC WORD: reports WORD when it is a path of the tree that is not there.
check() {
  local doc=$1 word=$2
  word=${word##*=}
  word=${word#[\(\"\']}
  word=${word%[\),.;:\"\']}
  [ -n "$word" ] || return 0
  [[ $word =~ ^[A-Za-z0-9_.*+/-]+$ && $word =~ [A-Za-z] ]] || return 0
  [[ $word == */* || $word =~ \.($kExtensions)$ ]] || return 0
  [[ $word =~ ^\.[a-z]+$ ]] && return 0  # an extension alone (`.cpp`)
  [[ $word == /* ]] && return 0
  checked=$((checked + 1))
  word=${word#./}
  if [[ $word =~ ^win(32|64)/([A-Za-z0-9_]+)$ ]]; then
    local t
    for t in "${win_tests[@]}"; do [ "$t" = "${BASH_REMATCH[2]}" ] && return 0; done
    echo "$doc: \`$word\`: no Windows test of that name (tests/win/CMakeLists.txt)"
    failures=$((failures + 1))
    return 0
  fi
  if build_output "$word"; then
    if [ -n "$problem" ]; then
      echo "$doc: \`$word\`: $problem"
      failures=$((failures + 1))
    fi
    return 0
  fi
  if [[ $word != */* ]] && is_generated "$word"; then return 0; fi
  found "$word" && return 0
  echo "$doc: \`$word\` names no file or folder of the tree"
  failures=$((failures + 1))
}

# check_link DOC TARGET: a relative link's target, from the page's folder.
check_link() {
  local doc=$1 target=${2%%#*}
  [ -n "$target" ] || return 0
  [[ $target =~ ^[a-z]+: ]] && return 0  # a scheme: not a file of the tree
  checked=$((checked + 1))
  [ -e "$(dirname "$root/$doc")/$target" ] && return 0
  echo "$doc: link to $target, which is not there"
  failures=$((failures + 1))
}

docs=(README.md)
for page in "$root"/docs/*.md; do docs+=("docs/$(basename "$page")"); done
set -f  # a span's words are split, never expanded: a glob is matched by found()
for doc in "${docs[@]}"; do
  # The page without its fenced blocks, its lines joined: a code span may
  # run over a line break.
  text=$(awk '/^[[:space:]]*```/ { fenced = !fenced; next } !fenced' "$root/$doc" | tr '\n' ' ')
  rest=$text
  while [[ $rest =~ \`([^\`]*)\` ]]; do
    span=${BASH_REMATCH[1]}
    rest=${rest#*"${BASH_REMATCH[0]}"}
    for word in $span; do
      check "$doc" "$word"
    done
  done
  rest=$text
  while [[ $rest =~ \]\(([^\)[:space:]]+)\) ]]; do
    rest=${rest#*"${BASH_REMATCH[0]}"}
    check_link "$doc" "${BASH_REMATCH[1]}"
  done
done

# A scan that finds nothing to check proves nothing.
if [ "$checked" -eq 0 ]; then
  echo "check_paths: no path found in ${docs[*]}: the scan is broken"
  exit 1
fi
if [ "$failures" -gt 0 ]; then
  echo "check_paths: $failures of $checked paths in the docs are not in the tree"
  exit 1
fi
echo "check_paths: all $checked paths in ${docs[*]} are in the tree"
