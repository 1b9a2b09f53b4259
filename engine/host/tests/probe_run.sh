#!/usr/bin/env bash
# Runs the real engine, headless, on a start-up description that names the probe module, and checks
# the report the probe's core logic entity writes from inside the running engine.
# usage: probe_run.sh ENGINE LEDGER PROBE_MODULE WORK_DIR
set -euo pipefail
engine=$1 ledger=$2 probe=$3 work=$4
rm -rf "$work"
mkdir -p "$work/MODULES" "$work/Resource/Worlds"
cp "$probe" "$work/MODULES/probe.so"
ln "$work/MODULES/probe.so" "$work/MODULES/counter.so" # objects of class "counter" come from counter.so
cat > "$work/startup.txt" <<'TEXT'
[item]
name = video
class = 0
width = 800
height = 600
[item]
name = logic
class = probe
TEXT
"$ledger" --import "$work/startup.txt" -o "$work/Resource/startup.idf"
cat > "$work/world.txt" <<'TEXT'
[item]
name = crate
class = prop
mass = 12
texture = a.tga
texture = b.tga
TEXT
"$ledger" --import "$work/world.txt" -o "$work/Resource/Worlds/abc.idf"
cd "$work"
status=0
timeout 60 "$engine" --headless --frames 100 || status=$?
cat probe_report.txt
[ "$status" -eq 0 ] || { echo "engine exited with $status"; exit 1; }
if grep -q '^FAIL' probe_report.txt; then exit 1; fi
oks=$(grep -c '^ok' probe_report.txt)
[ "$oks" -eq 54 ] || { echo "expected 54 checks, got $oks"; exit 1; }
