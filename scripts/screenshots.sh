#!/usr/bin/env bash
# Renews the pictures of the six control dialogs (docs/dialog_*.png, or in the folder given)
# from the Linux build, drawn by X on a virtual display as on a desktop.
#   bash scripts/screenshots.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$(realpath "${1:-docs}")
. scripts/build-config.sh
dpx20_configure build
cmake --build build -j "${JOBS:-$(nproc)}" --target ui_dialog_screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/ui_dialog_screenshots "$folder"
