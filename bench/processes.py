"""Whole-process measurements of the console program.

1. zemQRCode -s 4 -e 2 out.png HELLO against a process that only writes the
   same pixels with libpng at the same settings (zem_png_floor), run in
   alternation, wall time per process.
2. Peak resident memory of the console program over versions and cell sizes.

Usage: processes.py BUILD_DIR WORK_DIR OUT.json
"""
import json
import os
import random
import statistics
import sys
import time

RUNS = 300
VERSIONS = [1, 10, 20, 30, 40]
CELLS = [1, 4, 10, 20]
WORDS = "the quick brown fox jumps over the lazy dog; zem makes qr codes from text. "


def run(argv):
    """Runs argv; returns its wall time in seconds. Fails loudly."""
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ)
    _, status = os.waitpid(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"processes.py: {' '.join(argv)} failed")
    return wall


def peak_kib(argv):
    """Peak resident memory of argv in KiB, as GNU time reports it (a child
    of ours would start out with this interpreter's memory)."""
    run(["/usr/bin/time", "-f", "%M", "-o", "peak.txt"] + argv)
    with open("peak.txt") as f:
        return int(f.read().split()[-1])


def bmp_to_rgb(path):
    """Top-down RGB bytes, width and height of a 24-bit bottom-up BMP."""
    data = open(path, "rb").read()
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(height - 1, -1, -1):
        row = data[offset + y * stride: offset + y * stride + width * 3]
        rgb = bytearray(len(row))
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(bytes(rgb))
    return b"".join(rows), width, height


def main():
    build, work, out = (os.path.abspath(arg) for arg in sys.argv[1:4])
    cli = os.path.abspath(os.path.join(build, "zemQRCode"))
    floor = os.path.abspath(os.path.join(build, "bench", "zem_png_floor"))
    os.chdir(work)

    # The floor writes the very pixels of the console program's drawing.
    run([cli, "-s", "4", "-e", "2", "hello.bmp", "HELLO"])
    pixels, width, height = bmp_to_rgb("hello.bmp")
    with open("hello.rgb", "wb") as f:
        f.write(pixels)
    commands = {
        "cli": [cli, "-s", "4", "-e", "2", "out.png", "HELLO"],
        "floor": [floor, "floor.png", "hello.rgb", str(width), str(height)],
    }
    times = {name: [] for name in commands}
    for _ in range(RUNS):
        order = list(commands)
        random.shuffle(order)
        for name in order:
            times[name].append(run(commands[name]))

    message = (WORDS * 40)[:2953]
    with open("message.txt", "w") as f:
        f.write(message)
    peak = {}
    for version in VERSIONS:
        for cell in CELLS:
            argv = [cli, "-q", str(version), "-e", "1", "-s", str(cell), "-f", "message.txt", "out.png"]
            peak[f"{version}/{cell}"] = max(peak_kib(argv) for _ in range(3))

    result = {
        "hello": {
            "runs": RUNS,
            "pixels": [width, height],
            "cli_median_s": statistics.median(times["cli"]),
            "floor_median_s": statistics.median(times["floor"]),
            "cli_peak_kib": peak_kib(commands["cli"]),
            "floor_peak_kib": peak_kib(commands["floor"]),
        },
        "peak_kib": peak,
        "loadavg": os.getloadavg(),
    }
    with open(out, "w") as f:
        json.dump(result, f, indent=1)


if __name__ == "__main__":
    main()
