#!/usr/bin/env bash
# Installs what is missing, builds the dev preset and runs every test headless.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
scripts/install-deps.sh
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy SDL_RENDER_DRIVER=software QT_QPA_PLATFORM=offscreen
cmake --preset dev
cmake --build --preset dev
ctest --preset dev
