#!/usr/bin/env bash
# The installer package of the build under test, round trip under Wine's
# msiexec, in a copy of that build's prefix with the machine-wide
# registration removed first, so that only the package's own registry
# entries can make the object creatable: install, create the wallet from a
# script and store and read a card, break the installation and repair it,
# uninstall, and nothing of ours is left. The 32-bit build's x86 package runs
# in a 32-bit prefix; in the 64-bit prefix the x86 package is also installed
# beside the x64 one.
set -uo pipefail
source "$(dirname "$0")/../../tools/wine-env.sh"
if [ "$CARDKEEP_BITS" = 64 ]; then arch=x64 product='cardkeep (64-bit)'; else arch=x86 product='cardkeep (32-bit)'; fi
"$CARDKEEP_ROOT/tools/dist.sh" --msi $arch $([ $arch = x64 ] && echo x86) || { echo "FAIL: tools/dist.sh"; exit 1; }
msi=$CARDKEEP_ROOT/build/dist/cardkeep-$CARDKEEP_VERSION-$arch.msi
msi32=$CARDKEEP_ROOT/build/dist/cardkeep-$CARDKEEP_VERSION-x86.msi

source "$(dirname "$0")/prefix_copy.sh" installer
value() { # key, value name ("" for the default): prints the value's data
  local out
  if [ -z "$2" ]; then out=$("$WINE" reg query "$1" /ve </dev/null 2>/dev/null)
  else out=$("$WINE" reg query "$1" /v "$2" </dev/null 2>/dev/null); fi
  tr -d '\r' <<<"$out" | sed -n 's/^ *[^ ].*REG_SZ *//p' | head -1
}
has() { # description, key, value name ("" for the default), the data it must hold
  check "$1" test "$(value "$2" "$3")" = "$4"
}
msiexec() { # package, action option, further options: the package follows the action
  "$WINE" msiexec "$2" "$(winpath "$1")" "${@:3}" </dev/null >/dev/null 2>&1
}
install() { # package, what it is, the folder of its DLLs in the build, the folder it installs them in
  msiexec "$1" /i /qn
  local rc=$?
  [ $rc -eq 0 ] || echo "msiexec /i exited $rc"
  check "msiexec /i installs $2" test $rc -eq 0
  local dll
  for dll in $CARDKEEP_DLLS; do
    check "$dll is installed in ${4##*/drive_c/}" cmp -s "$3/$dll" "$4/$dll"
  done
}

installed="$copy/drive_c/Program Files/cardkeep"
installed32="$copy/drive_c/Program Files (x86)/cardkeep"
progfiles='C:\Program Files\cardkeep'
classes='HKLM\Software\Classes'
clsid="{$CARDKEEP_CLSID_WALLET}"
libid="{$CARDKEEP_LIBID}"
iid="{$CARDKEEP_IID_WALLET}"
tlbver=$CARDKEEP_TYPELIB_VERSION

# A host stores a card and reads it back through the installed libraries:
# creating the wallet also creates both companions by their ProgIDs. The
# wallet file is made first, so the first-run box never appears; without a
# display any box would return at once anyway.
data="$copy/wallets"
mkdir -p "$data/Ledger/LedgerPro/3.10"
script="$copy/card.vbs"
cat >"$script" <<'VBS'
Class LedgerHost
    Public Property Get ProductName: ProductName = "Ledger": End Property
    Public Property Get Title: Title = "LedgerPro": End Property
    Public Property Get Major: Major = 3: End Property
    Public Property Get Minor: Minor = 10: End Property
End Class
On Error Resume Next
Dim wallet, pocket, card, info, got
Set wallet = CreateObject("cardkeep.clsWALLETA")
If Err.Number <> 0 Then WScript.Echo "no object: " & Hex(Err.Number) & " " & Err.Description: WScript.Quit 2
Set wallet.AppObject = New LedgerHost
pocket = "Bank": card = "Visa": info = "4111 1111 1111 1111 exp 12/29"
' With the argument "read" the card stored before is only read back.
If WScript.Arguments.Count = 0 Then
    If wallet.SetCard(pocket, card, info) <> 1 Then WScript.Echo "SetCard did not return 1"
End If
got = wallet.GetCard(pocket, card)
If Err.Number <> 0 Then WScript.Echo "failed: " & Hex(Err.Number) & " " & Err.Description: WScript.Quit 3
WScript.Echo "card " & got
WScript.Echo "path " & wallet.WalletPath
VBS
: >"$data/Ledger/LedgerPro/3.10/wallet.cdw"
card_output() { # [read]
  QZENVSLOCALPRO=$(winpath "$data") DISPLAY='' "$WINE" cscript //nologo "$(winpath "$script")" "$@" </dev/null 2>&1 |
    tr -d '\r'
}
stores_card() { # [read]: the card is stored (or only read) and read back
  local out; out=$(card_output "$@")
  grep -qx 'card 4111 1111 1111 1111 exp 12/29' <<<"$out" && grep -qi '^path .*wallet\.cdw$' <<<"$out" ||
    { printf 'script said:\n%s\n' "$out"; return 1; }
}
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
listed() { # a line for each product of this package's name listed as installed: its key, a tab, its version
  "$WINE" reg query "$uninstall" /s </dev/null 2>/dev/null | tr -d '\r' | awk -v product="$product" '
    function flush() { if (name == product) print key "\t" version }
    /^HKEY/ { flush(); key = $0; name = ""; version = ""; next }
    $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); name = $0 }
    $1 == "DisplayVersion" { sub(/^ *DisplayVersion +REG_SZ +/, ""); version = $0 }
    END { flush() }'
}
cannot_create() { local out; out=$(card_output); grep -q '^no object: ' <<<"$out"; }

"$WINE" "$bin/cardkeep-register.exe" /u </dev/null >/dev/null 2>&1
check "with the machine registration removed nothing of ours is registered" test -z "$(ours "$classes")"
check "and a script cannot create the wallet" cannot_create

install "$msi" "the package" "$bin" "$installed"
has "the class's server is the installed cardkeep.dll" \
  "$classes\\CLSID\\$clsid\\InprocServer32" "" "$progfiles\\cardkeep.dll"
has "the class is apartment-threaded" "$classes\\CLSID\\$clsid\\InprocServer32" ThreadingModel Apartment
has "the ProgID names the class" "$classes\\cardkeep.clsWALLETA\\CLSID" "" "$clsid"
has "the type library $tlbver is registered at the installed file" \
  "$classes\\TypeLib\\$libid\\$tlbver\\0\\win$CARDKEEP_BITS" "" "$progfiles\\cardkeep.dll"
has "the interface is marshalled by the type library marshaler" \
  "$classes\\Interface\\$iid\\ProxyStubClsid32" "" '{00020424-0000-0000-C000-000000000046}'
has "the interface names its type library version" "$classes\\Interface\\$iid\\TypeLib" Version "$tlbver"
has "the run-time companion's class points at the installed file" \
  "$classes\\CLSID\\{$KORVEX11_CLSID_RUNTIME}\\InprocServer32" "" "$progfiles\\KORVEX11.dll"
check "a script stores and reads a card through the installed libraries" stores_card
sealed() { # the card is in the file, and its information is not there in plain text
  local text
  text=$(iconv -f utf-16 -t utf-8 "$data/Ledger/LedgerPro/3.10/wallet.cdw" 2>/dev/null ||
         cat "$data/Ledger/LedgerPro/3.10/wallet.cdw")
  grep -q '^Visa=' <<<"$text" && ! grep -q '4111' <<<"$text"
}
check "the card is stored sealed in the wallet file" sealed
first=$(listed)
check "the product is listed as installed, once" test -n "$first" -a "$(wc -l <<<"$first")" -eq 1

if [ $arch = x64 ]; then
  # The 32-bit package installs beside the 64-bit one: its files and its
  # classes land in the 32-bit views, and taking it away again leaves the
  # 64-bit installation working.
  install "$msi32" "the 32-bit package beside the 64-bit one" "$CARDKEEP_ROOT/build/win32/bin" "$installed32"
  has "the 32-bit class's server is the 32-bit cardkeep.dll" \
    "$classes\\Wow6432Node\\CLSID\\$clsid\\InprocServer32" "" 'C:\Program Files (x86)\cardkeep\cardkeep.dll'
  has "the 32-bit type library is registered at the 32-bit file" \
    "$classes\\TypeLib\\$libid\\$tlbver\\0\\win32" "" 'C:\Program Files (x86)\cardkeep\cardkeep.dll'
  has "the 64-bit class still points at the 64-bit file" \
    "$classes\\CLSID\\$clsid\\InprocServer32" "" "$progfiles\\cardkeep.dll"
  # The filter below sees the 32-bit package's entries while it is installed.
  seen=$(ours "$classes" | grep -iE '\(x86\)|Wow6432Node\\(CLSID|Interface|cardkeep|KORVEX)' || true)
  check "the 32-bit package's classes and interfaces are in the 32-bit view" \
    test "$(grep -ciE '^HKEY.*Wow6432Node\\(CLSID|Interface)' <<<"$seen")" -ge 6
  msiexec "$msi32" /x /qn
  check "msiexec /x uninstalls the 32-bit package" test $? -eq 0
  check "the 32-bit install folder is gone" test ! -e "$installed32"
  # Wine shares the type library key between the two views (as Windows does):
  # Wow6432Node\TypeLib shows the 64-bit package's entries, which stay.
  left=$(ours "$classes" | grep -iE '\(x86\)|Wow6432Node\\(CLSID|Interface|cardkeep|KORVEX)' || true)
  [ -n "$left" ] && printf 'left behind:\n%s\n' "$left"
  check "nothing of the 32-bit package is left in the registry" test -z "$left"
  check "the 32-bit type library path is gone" test -z "$(value "$classes\\TypeLib\\$libid\\$tlbver\\0\\win32" '')"
  has "the 64-bit type library path stays" "$classes\\TypeLib\\$libid\\$tlbver\\0\\win64" "" "$progfiles\\cardkeep.dll"
  check "the 64-bit installation still works" stores_card
fi

# Repair: a deleted library and a deleted ProgID come back. Wine 8's msiexec
# does not implement /f (it takes neither a product code nor a package
# there), so the repair is asked for with the properties that /famus stands
# for, which is also what Windows does with them.
rm -f "$installed/cardkeep.dll"
"$WINE" reg delete "$classes\\cardkeep.clsWALLETA" /f </dev/null >/dev/null 2>&1
check "the breakage took effect" cannot_create
msiexec "$msi" /i REINSTALL=ALL REINSTALLMODE=amus /qn
check "a repair (REINSTALL=ALL REINSTALLMODE=amus) succeeds" test $? -eq 0
check "the repair restores cardkeep.dll" cmp -s "$bin/cardkeep.dll" "$installed/cardkeep.dll"
has "the repair restores the ProgID" "$classes\\cardkeep.clsWALLETA\\CLSID" "" "$clsid"
check "a script stores and reads a card after the repair" stores_card

# Upgrade: the next version's package (the same libraries packaged as the
# version after this one) replaces this version's: one product is listed,
# the new one, with its files and registration in place, and the card stored
# before reads back. The older package then refuses to go over the newer.
# Measured under Wine 8: when the versions differed in the fourth field only
# (1.0.0.6, 1.0.0.7) the newer package, with its own ProductCode, installed
# beside the older and both were listed; with one ProductCode for both,
# msiexec refused the newer package.
next=${CARDKEEP_VERSION%.*}.$((${CARDKEEP_VERSION##*.} + 1))
msi_next=$copy/dist/cardkeep-$next-$arch.msi
DIST_VERSION=$next DIST_OUT=$copy/dist "$CARDKEEP_ROOT/tools/dist.sh" --msi $arch >/dev/null ||
  { echo "FAIL: tools/dist.sh for version $next"; exit 1; }
install "$msi_next" "the next version's package ($next) over this one" "$bin" "$installed"
now=$(listed)
[ "$(wc -l <<<"$now")" -eq 1 ] || printf 'listed:\n%s\n' "$now"
check "after the upgrade one product is listed" test -n "$now" -a "$(wc -l <<<"$now")" -eq 1
check "and it is another product of another version than the one before" \
  test "${now%%$'\t'*}" != "${first%%$'\t'*}" -a "${now#*$'\t'}" != "${first#*$'\t'}"
has "after the upgrade the class's server is the installed cardkeep.dll" \
  "$classes\\CLSID\\$clsid\\InprocServer32" "" "$progfiles\\cardkeep.dll"
has "after the upgrade the ProgID names the class" "$classes\\cardkeep.clsWALLETA\\CLSID" "" "$clsid"
has "after the upgrade the type library is registered at the installed file" \
  "$classes\\TypeLib\\$libid\\$tlbver\\0\\win$CARDKEEP_BITS" "" "$progfiles\\cardkeep.dll"
check "the card stored before the upgrade reads back" stores_card read
msiexec "$msi" /i /qn
rc=$?
check "the older package refuses to install over the newer one (msiexec exited $rc)" test $rc -ne 0
check "and the newer one stays the one listed" test "$(listed)" = "$now"

msiexec "$msi_next" /x /qn
check "msiexec /x uninstalls the package" test $? -eq 0
gone() { local dll; for dll in $CARDKEEP_DLLS; do [ ! -e "$installed/$dll" ] || return 1; done; }
check "the libraries are gone" gone
check "the install folder is gone" test ! -e "$installed"
left=$(ours "$classes"; ours 'HKCU\Software\Classes')
[ -n "$left" ] && printf 'left behind:\n%s\n' "$left"
check "nothing of ours is left in the machine's or the user's classes" test -z "$left"
check "the product is no longer listed as installed" \
  test -z "$(ours 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall')"
check "a script cannot create the wallet after the uninstall" cannot_create

echo "checks: failed $failures"
exit $((failures != 0))
