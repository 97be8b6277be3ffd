#!/usr/bin/env bash
# cardkeep-register in a copy of the test prefix: per-user registration
# (no administrator rights needed) lands in the user's classes key, and
# unregistering leaves nothing of ours in the registry.
set -uo pipefail
source "$(dirname "$0")/prefix_copy.sh" user-registration
script="$copy/create.vbs"
cat >"$script" <<'VBS'
Set w = CreateObject("cardkeep.clsWALLETA")
WScript.Echo "created " & TypeName(w)
VBS
creates() { "$WINE" cscript //nologo "$(winpath "$script")" </dev/null 2>&1 | tr -d '\r' | grep -q '^created '; }
cannot_create() { ! creates; }

# Wine 8 does not consult the user's classes key when it creates an object
# by name, so here the per-user registration is checked in the registry, and
# creation by a script is checked after a machine registration by the tool.
"$WINE" "$bin/cardkeep-register.exe" /u </dev/null >/dev/null 2>&1
check "unregistering for the machine leaves nothing of ours" test -z "$(ours 'HKLM\Software\Classes')"
check "a script cannot create the wallet then" cannot_create

"$WINE" "$bin/cardkeep-register.exe" /user </dev/null
check "cardkeep-register /user succeeds" test $? -eq 0
user=$(ours 'HKCU\Software\Classes')
check "the ProgID is registered for the user" grep -q 'HKEY_CURRENT_USER\\Software\\Classes\\cardkeep.clsWALLETA$' <<<"$user"
check "the class's server is registered for the user" grep -qi 'InprocServer32' <<<"$(\
  "$WINE" reg query "HKCU\\Software\\Classes\\CLSID\\{$CARDKEEP_CLSID_WALLET}" /s </dev/null 2>/dev/null)"
check "the type library is registered for the user" grep -qi "TypeLib\\\\{$CARDKEEP_LIBID}" <<<"$user"
# Wine writes the interface's 32-bit view under the machine's Wow6432Node
# whatever the classes root is; nothing else may land there.
machine=$(ours 'HKLM\Software\Classes' | grep -v 'Wow6432Node' | grep '^HKEY' || true)
check "no class or ProgID is registered for the machine" test -z "$machine"

"$WINE" "$bin/cardkeep-register.exe" /user /u </dev/null
check "cardkeep-register /user /u succeeds" test $? -eq 0
left=$(ours 'HKCU\Software\Classes'; ours 'HKLM\Software\Classes')
[ -n "$left" ] && printf 'left behind:\n%s\n' "$left"
check "nothing of ours is left in the registry" test -z "$left"

"$WINE" "$bin/cardkeep-register.exe" </dev/null >/dev/null
check "cardkeep-register for the machine succeeds" test $? -eq 0
check "a script creates the wallet" creates

echo "checks: failed $failures"
exit $((failures != 0))
