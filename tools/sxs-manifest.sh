#!/usr/bin/env bash
# Prints the assembly manifest of the three DLLs for registration-free use:
# what a host's activation context needs to find every class, ProgID, type
# library and interface that DllRegisterServer writes to the registry.
#   tools/sxs-manifest.sh x86|x64
# The GUIDs and the versions (the product's, each type library's) come from
# identity.env; each DLL's classes and ProgIDs are the rows of its class
# table (src/surface/cardkeep_server.cpp, companions/*/exports.cpp). Registration writes one ProgID per class
# (no version-independent or versioned one) and ThreadingModel Apartment,
# so the manifest does too.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

# The assembly's name: not a DLL's, since Windows looks for an assembly
# called NAME first in NAME.dll's resources.
readonly kAssembly=cardkeep.sxs
# The type library marshaler, which registration names for every interface
# of the type libraries (all are dual or oleautomation).
readonly kTypeLibMarshaler=00020424-0000-0000-C000-000000000046

case ${1:-} in
  x86) arch=x86 ;;
  x64) arch=amd64 ;;
  *) echo "usage: sxs-manifest.sh x86|x64" >&2; exit 2 ;;
esac

# file DLL PREFIX CLSID-NAME=PROGID...: one DLL's <file> element. PREFIX
# names its type library in identity.env (PREFIX_LIBID, PREFIX_TYPELIB_VERSION).
file() {
  local dll=$1 prefix=$2 libid version row
  shift 2
  libid=${prefix}_LIBID
  version=${prefix}_TYPELIB_VERSION
  echo "  <file name=\"$dll\">"
  for row in "$@"; do
    local clsid=${row%%=*}
    echo "    <comClass clsid=\"{${!clsid}}\" progid=\"${row#*=}\" threadingModel=\"Apartment\" tlbid=\"{${!libid}}\"/>"
  done
  echo "    <typelib tlbid=\"{${!libid}}\" version=\"${!version}\" helpdir=\"\"/>"
  echo "  </file>"
}

# interfaces PREFIX: every interface of PREFIX's type library, as registered.
interfaces() {
  local libid=${1}_LIBID name
  for name in $(identity_names); do
    [[ $name == "$1"_IID_* ]] || continue
    echo "  <comInterfaceExternalProxyStub iid=\"{${!name}}\" tlbid=\"{${!libid}}\" proxyStubClsid32=\"{$kTypeLibMarshaler}\"/>"
  done
}

cat <<EOF
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="$kAssembly" version="$CARDKEEP_VERSION" processorArchitecture="$arch"/>
EOF
file KORVEX11.dll KORVEX11 \
  KORVEX11_CLSID_RUNTIME=KORVEX11.clsKorvex11RunTimeA
file KORVEX10.dll KORVEX10 \
  KORVEX10_CLSID_INIFILE=KORVEX10.clsKorvexINIFileHandler1A \
  KORVEX10_CLSID_CRYPTOGRAPHY=KORVEX10.clsKorvexCryptographyC
file cardkeep.dll CARDKEEP \
  CARDKEEP_CLSID_WALLET=cardkeep.clsWALLETA
interfaces KORVEX11
interfaces KORVEX10
interfaces CARDKEEP
echo "</assembly>"
