#!/usr/bin/env bash
# Prepares the Wine prefix of the end-to-end tests (first argument): a prefix
# of their own, so the program's single-instance window, its logs in
# Documents\Pixwick\ and the LCD Manager's registry entries meet no other
# test and no Pixwick a developer runs in the build's main prefix.
set -euo pipefail
export PIXWICK_WINEPREFIX=$1
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
prepare_wine_prefix
