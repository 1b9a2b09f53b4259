#!/usr/bin/env bash
# Lays out a working directory in which the engine runs: engine.ini, RESOURCE/ and MODULES/.
# usage: scripts/layout-workdir.sh BUILD_DIR RUN_DIR
set -euo pipefail
build=$1
run=$2
mkdir -p "$run/RESOURCE/WORLDS" "$run/RESOURCE/MODELS" "$run/RESOURCE/TEXTURES" "$run/RESOURCE/IMAGES" \
         "$run/RESOURCE/SYSTEM" "$run/RESOURCE/SOUNDS" "$run/RESOURCE/MUSIC" "$run/MODULES"
cp "$build/bin/engine" "$run/engine"
if [ ! -f "$run/engine.ini" ]; then
  printf 'WINDOW_WIDTH 800\nWINDOW_HEIGHT 600\nWINDOW_MODE 1\nDDRAW_DEVICE 0\nSOUND_ON 1\n' > "$run/engine.ini"
fi
# Modules and content built by this tree, when there are any: the engine's own fonts, and whatever
# else the build stages under content/RESOURCE.
shopt -s nullglob
for module in "$build"/modules/*.so; do cp "$module" "$run/MODULES/"; done
if [ -d "$build/content/RESOURCE" ]; then cp -R "$build/content/RESOURCE/." "$run/RESOURCE/"; fi
