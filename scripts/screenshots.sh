#!/usr/bin/env bash
# Screenshots of the window in its three states (reset, opened with the image's own logos in
# the previews, built), taken from the running program on a virtual X server, into
# build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
rm -rf build/screenshots
xvfb-run -a -s "-screen 0 1024x768x24" \
  env QT_QPA_PLATFORM=xcb QUORVANE_SCREENSHOT_DIR="$PWD/build/screenshots" \
  build/tests/gui_tests --gtest_filter='Window.StartsInTheResetState:Window.OpenTypeAndStartBuildTheDownloadFile'
ls build/screenshots
