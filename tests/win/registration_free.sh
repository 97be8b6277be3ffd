#!/usr/bin/env bash
# Registration-free use of the build's zip (tools/dist.sh --zip) in a fresh
# prefix where nothing of ours was ever registered:
#   a host without a manifest and without an activation context cannot find
#   cardkeep.clsWALLETA, by ProgID or CLSID, so the hosts below do not lean
#   on the registry;
#   a host whose own manifest names the cardkeep assembly, in a folder with
#   the unpacked zip, creates every class by ProgID, finds every type
#   library, stores and reads back a card, and reads it from another
#   apartment (regfree_host.cpp);
#   a host without a manifest does the same through an activation context
#   made from the assembly manifest, as a plugin host does.
#
# Measured under Wine 8, in both builds: the manifest's comClass entries
# answer CLSIDFromProgID and CoCreateInstance, also for the companions the
# wallet creates; its typelib entries answer LoadRegTypeLib (without them:
# TYPE_E_LIBNOTREGISTERED, 0x8002801d); its comInterfaceExternalProxyStub
# entries let the wallet's interface be marshalled to another apartment
# (without them CoMarshalInterThreadInterfaceInStream fails with
# E_NOINTERFACE, and without the typelib entries with E_FAIL). In the 64-bit
# build: a dependency's version must equal the assembly's (1.0.0.5 and
# 1.0.0.7 in place of 1.0.0.6 both leave the ProgID unknown);
# processorArchitecture="*" in it matches; an assembly named like one of its
# DLLs (cardkeep) is found too. And Wine writes a type library that it found
# through an activation context into the registry (HKCR\TypeLib, and its
# interfaces under HKCR\Interface) when it loads it to marshal an
# interface, which a registration-free host does not expect:
# forget_wine_registration removes that after the first host, so that the
# second also starts from a registry without anything of ours.
# Usage: registration_free.sh HOST-PROGRAM (regfree_host.exe)
set -uo pipefail
host=$1
source "$(dirname "$0")/../../tools/wine-env.sh"
if [ "$CARDKEEP_BITS" = 64 ]; then arch=x64 manifest_arch=amd64; else arch=x86 manifest_arch=x86; fi
"$CARDKEEP_ROOT/tools/dist.sh" --zip $arch >/dev/null || { echo "FAIL: tools/dist.sh --zip $arch"; exit 1; }
zip=$CARDKEEP_ROOT/build/dist/cardkeep-$CARDKEEP_VERSION-$arch.zip

source "$(dirname "$0")/prefix_copy.sh" registration-free fresh

# app: the host with its manifest beside the unpacked zip. plugin: the zip
# unpacked alone, as a plugin host's component folder. plain: the host alone.
work=$copy/work
mkdir -p "$work/app" "$work/plugin" "$work/plain"
unzip -q "$zip" -d "$work/app" && unzip -q "$zip" -d "$work/plugin" ||
  { echo "FAIL: $zip cannot be unpacked"; exit 1; }
cp "$host" "$work/app/" && cp "$host" "$work/plain/"
cat >"$work/app/regfree_host.exe.manifest" <<EOF
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="regfree_host" version="1.0.0.0" processorArchitecture="$manifest_arch"/>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="cardkeep.sxs" version="$CARDKEEP_VERSION" processorArchitecture="$manifest_arch"/>
    </dependentAssembly>
  </dependency>
</assembly>
EOF

# Every type library and interface key of ours removed, in one reg process.
forget=$copy/forget.reg
{
  echo "Windows Registry Editor Version 5.00"
  for name in $(identity_names); do
    case $name in
      *_LIBID) echo "[-HKEY_CLASSES_ROOT\\TypeLib\\{${!name}}]" ;;
      *_IID_*) echo "[-HKEY_CLASSES_ROOT\\Interface\\{${!name}}]"
               echo "[-HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\Interface\\{${!name}}]" ;;
    esac
  done
} >"$forget"
forget_wine_registration() { "$WINE" reg import "$(winpath "$forget")" </dev/null >/dev/null 2>&1; }

# run FOLDER NAME ARGUMENT...: the host in FOLDER, with a wallet root of its
# own whose wallet file exists, so that no first-run box is shown (without a
# display it would return at once anyway).
run() {
  local folder=$1 name=$2 root=$copy/roots/$2
  shift 2
  mkdir -p "$root/Notes/Notes Desk/1.4"
  : >"$root/Notes/Notes Desk/1.4/wallet.cdw"
  QZENVSLOCALPRO=$(winpath "$root") DISPLAY='' run_host "$work/$folder/regfree_host.exe" "$@"
  host_output=$(tr -d '\r' <<<"$host_output")
  printf '%s\n' "$host_output" | sed "s/^/  $name: /"
}
finds_no_class() {
  [ "$host_rc" -eq 2 ] && grep -qx 'no class cardkeep.clsWALLETA: 0x800401f3' <<<"$host_output" &&
    grep -qx 'by its CLSID: 0x80040154' <<<"$host_output" || { host_failed host; return 1; }
}
stores_card() {
  [ "$host_rc" -eq 0 ] && grep -qx 'SetCard returned 1, GetCard: 1234' <<<"$host_output" &&
    grep -qx 'GetCard from another apartment: 1234' <<<"$host_output" || { host_failed host; return 1; }
}

run plain none none
check "a host with neither manifest nor activation context finds neither the ProgID nor the CLSID" finds_no_class
run app manifest manifest
check "a host with a manifest naming the assembly stores and reads a card" stores_card
forget_wine_registration
run plain actctx actctx "$(winpath "$work/plugin/cardkeep.sxs.manifest")"
check "a host with an activation context made from the assembly manifest stores and reads a card" stores_card

echo "checks: failed $failures"
exit $((failures != 0))
