#!/usr/bin/env python3
"""Runs the speed benchmarks of the rasteriser, the whole frame and the queries in one go (release build)
and prints every figure beside its bar:

  - bench/raster, one thread, against Mesa's llvmpipe on one thread (fps ratio per workload), and two
    threads against one;
  - bench/render's whole frame (300 models, 2 viewports, 800 x 600) in frames per second, and on one thread
    against llvmpipe drawing the same triangles through its own vertex pipeline;
  - collideBox and castRay on the 100k-triangle model of bench/models.

  bench/table.py [--seconds S] [--no-build]

The GL comparison needs EGL with Mesa's llvmpipe (scripts/packages.txt lists it); without it those rows
say so. Figures vary with the machine's load: run it on an otherwise idle machine.
"""
import argparse
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "release", "bench")
WORKLOADS = ["small", "medium", "fill", "scene"]
LLVMPIPE = dict(os.environ, EGL_PLATFORM="surfaceless", GALLIUM_DRIVER="llvmpipe", LP_NUM_THREADS="1")


def run(args, env=None):
    result = subprocess.run(args, cwd=ROOT, env=env, capture_output=True, text=True)
    if result.returncode != 0:
        return None
    return result.stdout


def fields(line):
    """key=value pairs of one benchmark line, numbers where they parse."""
    out = {}
    for key, value in re.findall(r"(\w+)=([^\s]+)", line):
        try:
            out[key] = float(value)
        except ValueError:
            out[key] = value
    return out


def lines_starting(text, prefix):
    return [line for line in (text or "").splitlines() if line.startswith(prefix)]


def raster_fps(text):
    """fps per workload from bench/raster or the GL comparison."""
    fps = {}
    for line in (text or "").splitlines():
        words = line.split()
        for name in WORKLOADS + ["frame"]:
            if name in words and "fps=" in line:
                fps[name] = fields(line)["fps"]
    return fps


def per_second(value):
    """Google Benchmark's items_per_second text (e.g. 812.5k/s) as a number."""
    match = re.match(r"([\d.]+)([kMG]?)/s", value)
    scale = {"": 1, "k": 1e3, "M": 1e6, "G": 1e9}[match.group(2)]
    return float(match.group(1)) * scale


def query_rates(seconds):
    text = run([os.path.join(BIN, "models", "models_bench"), "--benchmark_filter=BM_(CastRay|CollideBox)/reference:0",
                f"--benchmark_min_time={seconds}", "--benchmark_counters_tabular=false"])
    rates = {}
    for line in (text or "").splitlines():
        match = re.match(r"BM_(CastRay|CollideBox)/reference:0\s.*items_per_second=(\S+)", line)
        if match:
            rates[match.group(1)] = per_second(match.group(2))
    return rates


def row(measure, figure, bar, met):
    mark = "" if met is None else ("met" if met else "NOT met")
    print(f"| {measure:<52} | {figure:>14} | {bar:>14} | {mark:<7} |")


def ratio_row(measure, ours, theirs, bar):
    if ours is None or not theirs:
        row(measure, "n/a", f">= {bar:.1f}x", None)
    else:
        row(measure, f"{ours / theirs:.2f}x", f">= {bar:.1f}x", ours / theirs >= bar)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=2.0, help="time per measurement (default 2)")
    parser.add_argument("--no-build", action="store_true", help="use the release build as it is")
    options = parser.parse_args()
    if not options.no_build:
        subprocess.run(["cmake", "--preset", "release"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        targets = ["raster_bench", "render_bench", "models_bench"]
        if os.path.exists(os.path.join(ROOT, "build", "release", "build.ninja")):
            build_file = open(os.path.join(ROOT, "build", "release", "build.ninja")).read()
            if "raster_gl_compare" in build_file:
                targets.append("raster_gl_compare")
        subprocess.run(["cmake", "--build", os.path.join(ROOT, "build", "release"), "--target"] + targets, cwd=ROOT,
                       check=True, stdout=subprocess.DEVNULL)

    seconds = str(options.seconds)
    raster = os.path.join(BIN, "raster", "raster")
    one = raster_fps(run([raster, "--threads", "1", "--seconds", seconds]))
    two = raster_fps(run([raster, "--threads", "2", "--seconds", seconds]))
    gl_program = os.path.join(BIN, "raster", "raster_gl_compare")
    gl = raster_fps(run([gl_program, "--seconds", seconds], LLVMPIPE)) if os.path.exists(gl_program) else {}
    render = os.path.join(BIN, "render", "render")
    frame = lines_starting(run([render, "--seconds", seconds]), "render frame")
    frame_one = lines_starting(run([render, "--seconds", seconds, "--threads", "1"]), "render frame")
    queries = query_rates(options.seconds)

    print(f"| {'measure':<52} | {'figure':>14} | {'bar':>14} | {'':<7} |")
    print(f"|{'-' * 54}|{'-' * 16}|{'-' * 16}|{'-' * 9}|")
    for name in WORKLOADS:
        ratio_row(f"raster {name}: one thread vs llvmpipe one thread", one.get(name), gl.get(name), 2.0)
    for name in WORKLOADS:
        ratio_row(f"raster {name}: two threads vs one", two.get(name), one.get(name), 1.8)
    if frame:
        f = fields(frame[0])
        row(f"frame, {int(f['threads'])} threads: fps (pipeline {f['pipeline_ms']:.1f} ms)", f"{f['fps']:.1f}",
            ">= 35", f["fps"] >= 35)
    else:
        row("frame: fps", "n/a", ">= 35", None)
    one_fps = fields(frame_one[0])["fps"] if frame_one else None
    ratio_row("frame, one thread vs llvmpipe one thread", one_fps, gl.get("frame"), 2.0)
    for name, bar, unit in (("CollideBox", 50e3, "queries/s"), ("CastRay", 1e6, "rays/s")):
        rate = queries.get(name)
        label = f"{name[0].lower() + name[1:]} on the 100k-triangle model ({unit})"
        if rate is None:
            row(label, "n/a", f">= {bar:,.0f}", None)
        else:
            row(label, f"{rate:,.0f}", f">= {bar:,.0f}", rate >= bar)
    if not gl:
        print("(no GL comparison: EGL with Mesa's llvmpipe is not available here)", file=sys.stderr)


if __name__ == "__main__":
    main()
