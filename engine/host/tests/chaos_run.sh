#!/usr/bin/env bash
# Runs the real engine, headless, with the chaos module as its core logic for FRAMES frames, checking the
# engine's tables after every frame (--check-tables). Passes when the engine ends normally: under the
# asan preset any sanitizer report ends it with an error first.
# usage: chaos_run.sh ENGINE LEDGER CHAOS_MODULE WORK_DIR FRAMES [SEED]
set -euo pipefail
engine=$1 ledger=$2 chaos=$3 work=$4 frames=$5 seed=${6:-1}
rm -rf "$work"
mkdir -p "$work/MODULES" "$work/Resource/Worlds"
cp "$chaos" "$work/MODULES/chaos.so"
cat > "$work/startup.txt" <<'TEXT'
[item]
name = video
class = 0
width = 320
height = 240
[item]
name = logic
class = chaos
TEXT
"$ledger" --import "$work/startup.txt" -o "$work/Resource/startup.idf"
cd "$work"
status=0
# A missing texture asks whether to reload it: the answer is no, as a user would give.
CHAOS_FRAMES=$frames CHAOS_SEED=$seed ENGINE_MSGBOX_ANSWER=no timeout 3000 "$engine" --headless --frames "$frames" \
    --check-tables || status=$?
[ -f chaos_report.txt ] && awk '{ calls += $2; done += $4 } END { printf "chaos: %d calls over %d module frames\n", calls, done }' chaos_report.txt
[ "$status" -eq 0 ] || { echo "engine exited with $status"; exit 1; }
