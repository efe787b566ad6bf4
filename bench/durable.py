"""The price of replacing a file durably, on a disk file system (not tmpfs,
where a sync costs nothing): the console program replacing an existing file,
which it syncs before the rename, against floors that write the same bytes
under a temporary name, sync them and rename them over the old file
(zem_png_floor and zem_bmp_floor with --durable). Runs alternate in random
order; medians of wall time per process.

Usage: durable.py BUILD_DIR WORK_DIR OUT.json [RUNS]     (WORK_DIR on a disk)
"""
import json
import os
import sys

from processes import WORDS, alternate, raw_pixels, run


def main():
    build, work, out = (os.path.abspath(arg) for arg in sys.argv[1:4])
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 31
    cli = os.path.join(build, "zemQRCode")
    png_floor = os.path.join(build, "bench", "zem_png_floor")
    bmp_floor = os.path.join(build, "bench", "zem_bmp_floor")
    os.chdir(work)
    with open("message.txt", "w") as f:
        f.write((WORDS * 40)[:2953])
    hello = [cli, "-s", "4", "-e", "2"]
    v40 = [cli, "-q", "40", "-e", "1", "-s", "10", "-f", "message.txt"]
    cases = {}
    for case, argv in (("HELLO PNG", hello + ["out.png", "HELLO"]),
                       ("version 40 PNG", v40 + ["out.png"])):
        reference = hello + ["ref.bmp", "HELLO"] if case == "HELLO PNG" else v40 + ["ref.bmp"]
        run(reference)
        width, height = raw_pixels("ref.bmp", "ref.rgb")
        run(argv)  # a file to replace, for both
        run([png_floor, "floor.png", "ref.rgb", str(width), str(height)])
        cases[case] = alternate({"cli": argv, "floor": [png_floor, "--durable", "floor.png",
                                                        "ref.rgb", str(width), str(height)]}, runs)
    run(v40 + ["ref.bmp"])
    run(v40 + ["out.bmp"])
    run([bmp_floor, "floor.bmp", "ref.bmp"])
    cases["version 40 BMP"] = alternate({"cli": v40 + ["out.bmp"],
                                         "floor": [bmp_floor, "--durable", "floor.bmp", "ref.bmp"]},
                                        runs)
    if open("out.bmp", "rb").read() != open("floor.bmp", "rb").read():
        sys.exit("durable.py: the BMP floor wrote other bytes")
    for case, medians in cases.items():
        medians["ratio"] = medians["cli"] / medians["floor"]
        print(f"{case}: {medians['cli'] * 1000:.2f} ms, floor {medians['floor'] * 1000:.2f} ms, "
              f"{medians['ratio']:.3f} x")
    with open(out, "w") as f:
        json.dump({"runs": runs, "cases": cases, "loadavg": os.getloadavg()}, f, indent=1)


if __name__ == "__main__":
    main()
