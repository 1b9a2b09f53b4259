#!/usr/bin/env bash
# Runs the real engine the way a newcomer meets it and checks what it says on the terminal: --help,
# no display, a logic module that cannot be loaded or exports nothing, message boxes and screenshots.
# usage: engine_speaks.sh ENGINE LEDGER NO_EXPORT_LIBRARY WORK_DIR
set -uo pipefail
engine=$1 ledger=$2 no_export=$3 work=$4
rm -rf "$work"
mkdir -p "$work/MODULES" "$work/RESOURCE/WORLDS"
cd "$work"
failures=0
expect() { # expect DESCRIPTION FILE PATTERN
  if grep -qE -- "$3" "$2"; then echo "ok   $1"; else echo "FAIL $1: no line matching '$3' in:"; cat "$2"; failures=$((failures + 1)); fi
}
expect_status() { # expect_status DESCRIPTION WANTED GOT
  if [ "$2" -eq "$3" ]; then echo "ok   $1"; else echo "FAIL $1: exit status $3, wanted $2"; failures=$((failures + 1)); fi
}
startup_naming() {
  printf '[item]\nname = logic\nclass = %s\n' "$1" > startup.txt
  "$ledger" --import startup.txt -o RESOURCE/startup.idf > /dev/null
}

"$engine" --help > help.txt 2>&1; status=$?
expect_status "--help exits 0" 0 $status
expect "--help lists --headless" help.txt '--headless'
expect "--help lists ENGINE_MSGBOX_ANSWER" help.txt 'ENGINE_MSGBOX_ANSWER'

env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER timeout 20 "$engine" --frames 5 > out.txt 2> err.txt; status=$?
expect_status "no display without --headless exits 1" 1 $status
expect "no display is told like a DxInit box" err.txt '^DxInit: No display'

printf 'this is not a shared library\n' > MODULES/broken.so
startup_naming broken
timeout 60 "$engine" --headless --frames 2 > out.txt 2> err.txt; status=$?
expect_status "a broken module is not fatal" 0 $status
expect "a broken module names its path and dlerror's reason" err.txt \
  "^engine: cannot load module broken from .*MODULES/broken.so: .*(invalid ELF header|file too short)"
expect "the missing-module screen is told" err.txt '^engine: Missing requested core logic module: broken$'
expect "message boxes are told with their caption" err.txt "^Can't open texture file: Reload "
expect "headless boxes tell the answer taken" err.txt 'answered (Yes|No) without showing the box'

cp "$no_export" MODULES/bare.so
startup_naming bare
timeout 60 "$engine" --headless --frames 2 > out.txt 2> err.txt
expect "a module without CreateEntity is told" err.txt '^engine: module bare exports no CreateEntity'

startup_naming '../outside'
timeout 60 "$engine" --headless --frames 2 > out.txt 2> err.txt
expect "an unsafe module name is refused aloud" err.txt '^engine: module name "../outside" refused'

startup_naming absent
timeout 60 "$engine" --headless --frames 3 --shot-at 2 > out.txt 2> err.txt
expect "a missing module file is told" err.txt '^engine: cannot load module absent from .*MODULES/absent.so: '
expect "the screenshot names its file" err.txt '^engine: screenshot .*shot0000\.tga$'

[ "$failures" -eq 0 ]
