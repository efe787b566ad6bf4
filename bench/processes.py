"""Whole-process measurements of the console program.

1. zemQRCode -s 4 -e 2 out.png HELLO against a process that only writes the
   same pixels with libpng at the same settings (zem_png_floor), run in
   alternation, wall time per process.
2. zemQRCode writing version 40 at cell 10 to BMP against a process that
   reads the same file's bytes into one buffer and stores them with one
   fwrite (zem_bmp_floor), in alternation.
3. Peak resident memory of the console program over versions and cell sizes
   (PNG), and at version 40 over cell sizes up to 40, PNG and BMP.
4. Other command-line encoders that write 1-bit PNG files, run as they are
   installed (qrencode, zint), next to ours and to the libpng floor writing
   the same pixels as 8-bit RGB and as 1-bit grey (zlib level 9 and zlib's
   default level): "HELLO" and version 40
   at cell 10, wall time per process and file sizes.

Usage: processes.py BUILD_DIR WORK_DIR OUT.json
"""
import json
import os
import random
import shutil
import statistics
import struct
import sys
import time

RUNS = 300
BMP_RUNS = 40
VERSIONS = [1, 10, 20, 30, 40]
CELLS = [1, 4, 10, 20]
CELLS_V40 = [1, 4, 10, 20, 40]
COMPARE_RUNS = {"hello": 100, "v40": 11}
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


def png_format(path):
    """Width, height, bit depth and colour type of a PNG file, and its size."""
    data = open(path, "rb").read(33)
    width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
    return {"width": width, "height": height, "depth": depth, "colour_type": colour,
            "bytes": os.path.getsize(path)}


def alternate(commands, runs):
    """Median wall time of each command, the commands run in random order."""
    times = {name: [] for name in commands}
    for _ in range(runs):
        order = list(commands)
        random.shuffle(order)
        for name in order:
            times[name].append(run(commands[name]))
    return {name: statistics.median(values) for name, values in times.items()}


def raw_pixels(bmp, raw):
    """Writes the BMP file's pixels as top-down RGB; returns width, height."""
    pixels, width, height = bmp_to_rgb(bmp)
    with open(raw, "wb") as f:
        f.write(pixels)
    return width, height


def compare(cli, floor):
    """Our console program, the libpng floor at 8-bit RGB and 1-bit grey, and
    the other encoders that are installed, on two symbols."""
    qrencode, zint = shutil.which("qrencode"), shutil.which("zint")
    cases = {
        "hello": {
            "zemQRCode": [cli, "-s", "4", "-e", "2", "c_zem.png", "HELLO"],
            "bmp": [cli, "-s", "4", "-e", "2", "c_hello.bmp", "HELLO"],
            "qrencode": [qrencode, "-s", "4", "-l", "M", "-o", "c_qrencode.png", "HELLO"],
            "zint": [zint, "-b", "QRCODE", "--secure=2", "--scale=2", "--quietzones", "-d",
                     "HELLO", "-o", "c_zint.png"],
        },
        "v40": {
            "zemQRCode": [cli, "-q", "40", "-e", "1", "-s", "10", "-f", "message.txt", "c_zem.png"],
            "bmp": [cli, "-q", "40", "-e", "1", "-s", "10", "-f", "message.txt", "c_v40.bmp"],
            "qrencode": [qrencode, "-v", "40", "-l", "L", "-s", "10", "-8", "-r", "message.txt",
                         "-o", "c_qrencode.png"],
            "zint": [zint, "-b", "QRCODE", "--vers=40", "--secure=1", "--scale=5", "--quietzones",
                     "-i", "message.txt", "-o", "c_zint.png"],
        },
    }
    result = {}
    for case, argvs in cases.items():
        run(argvs.pop("bmp"))
        width, height = raw_pixels(f"c_{case}.bmp", "c_pixels.rgb")
        geometry = ["c_pixels.rgb", str(width), str(height)]
        commands = {"zemQRCode": argvs.pop("zemQRCode"),
                    "libpng 8-bit RGB": [floor, "c_floor8.png"] + geometry,
                    "libpng 1-bit grey": [floor, "c_floor1.png"] + geometry + ["1"],
                    "libpng 1-bit grey, zlib default level": [floor, "c_floor1d.png"] + geometry
                    + ["1", "-1"]}
        files = {"zemQRCode": "c_zem.png", "libpng 8-bit RGB": "c_floor8.png",
                 "libpng 1-bit grey": "c_floor1.png",
                 "libpng 1-bit grey, zlib default level": "c_floor1d.png"}
        for name, argv in argvs.items():
            if argv[0] is not None:
                commands[name] = argv
                files[name] = f"c_{name}.png"
        medians = alternate(commands, COMPARE_RUNS[case])
        result[case] = {name: dict(png_format(files[name]), median_s=medians[name])
                        for name in commands}
    return result


def main():
    build, work, out = (os.path.abspath(arg) for arg in sys.argv[1:4])
    cli = os.path.abspath(os.path.join(build, "zemQRCode"))
    floor = os.path.abspath(os.path.join(build, "bench", "zem_png_floor"))
    os.chdir(work)

    # The floor writes the very pixels of the console program's drawing.
    run([cli, "-s", "4", "-e", "2", "hello.bmp", "HELLO"])
    width, height = raw_pixels("hello.bmp", "hello.rgb")
    commands = {
        "cli": [cli, "-s", "4", "-e", "2", "out.png", "HELLO"],
        "floor": [floor, "floor.png", "hello.rgb", str(width), str(height)],
    }
    hello = alternate(commands, RUNS)

    message = (WORDS * 40)[:2953]
    with open("message.txt", "w") as f:
        f.write(message)

    bmp_floor = os.path.abspath(os.path.join(build, "bench", "zem_bmp_floor"))
    v40 = [cli, "-q", "40", "-e", "1", "-s", "10", "-f", "message.txt"]
    run(v40 + ["reference.bmp"])
    bmp = alternate({"cli": v40 + ["out.bmp"], "floor": [bmp_floor, "floor.bmp", "reference.bmp"]},
                    BMP_RUNS)
    if open("out.bmp", "rb").read() != open("floor.bmp", "rb").read():
        sys.exit("processes.py: the BMP floor wrote other bytes")

    peak = {}
    for version in VERSIONS:
        for cell in CELLS:
            argv = [cli, "-q", str(version), "-e", "1", "-s", str(cell), "-f", "message.txt", "out.png"]
            peak[f"{version}/{cell}"] = max(peak_kib(argv) for _ in range(3))
    peak_v40 = {}
    for kind in ("png", "bmp"):
        for cell in CELLS_V40:
            argv = [cli, "-q", "40", "-e", "1", "-s", str(cell), "-f", "message.txt", f"out.{kind}"]
            kib = max(peak_kib(argv) for _ in range(3))
            peak_v40[f"{kind}/{cell}"] = {"peak_kib": kib, "file_bytes": os.path.getsize(f"out.{kind}")}
            os.remove(f"out.{kind}")

    result = {
        "hello": {
            "runs": RUNS,
            "pixels": [width, height],
            "cli_median_s": hello["cli"],
            "floor_median_s": hello["floor"],
            "cli_peak_kib": peak_kib(commands["cli"]),
            "floor_peak_kib": peak_kib(commands["floor"]),
        },
        "bmp_v40_cell10": {"runs": BMP_RUNS, "cli_median_s": bmp["cli"],
                           "floor_median_s": bmp["floor"]},
        "peak_kib": peak,
        "peak_v40": peak_v40,
        "compare": compare(cli, floor),
        "loadavg": os.getloadavg(),
    }
    with open(out, "w") as f:
        json.dump(result, f, indent=1)


if __name__ == "__main__":
    main()
