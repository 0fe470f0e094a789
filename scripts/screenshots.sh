#!/usr/bin/env bash
# Writes docs/screenshots/*.png: the window's main states, light and dark, drawn on Qt's
# offscreen platform at twice the pixel density.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target corvane-screenshots
mkdir -p docs/screenshots
QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 build/tests/corvane-screenshots docs/screenshots
