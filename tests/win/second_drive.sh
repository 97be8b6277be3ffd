#!/usr/bin/env bash
# Gives the build's prefix a second drive letter, S:, for the whole of C:,
# as SUBST or a mapped network share gives a Windows user a second spelling
# of the same folders. Wine keeps each drive letter as a symbolic link in the
# prefix's dosdevices folder (DefineDosDeviceW there makes a name that file
# calls do not follow). Making it again changes nothing.
set -euo pipefail
source "$(dirname "$0")/../../tools/wine-env.sh"
ln -sfn ../drive_c "$WINEPREFIX/dosdevices/s:"
echo "S: is C: in $WINEPREFIX"
