#!/usr/bin/env bash
# Installs what is missing, builds the release preset (engine, tools, modules and the demo's content),
# lays out a working directory for the engine under build/release/run and starts the demo in it. Extra
# arguments go to the engine; with --shot-at the path of the picture taken is printed at the end.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
scripts/layout-workdir.sh build/release build/release/run
cd build/release/run
case " $* " in
  *" --shot-at "*)
    started=$(mktemp)
    status=0
    ./engine "$@" || status=$?
    shot=$(find . -maxdepth 1 -name 'shot*.tga' -newer "$started" | sort | tail -n 1)
    rm -f "$started"
    if [ -n "$shot" ]; then echo "$PWD/${shot#./}"; fi
    exit "$status" ;;
  *) exec ./engine "$@" ;;
esac
