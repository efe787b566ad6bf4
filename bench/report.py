"""Writes the results of bench/run into docs/performance.md (between the
results markers) and draws the scaling figure.

Usage: report.py RESULTS_DIR PERFORMANCE_MD FIGURE_PNG
"""
import json
import os
import platform
import re
import subprocess
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

VERSIONS = [1, 10, 20, 30, 40]
CELLS = [1, 4, 10, 20]
CELLS_V40 = [1, 4, 10, 20, 40]
BUDGETS_MIB = [32, 64, 256, 1024, 2048]
MIB = 1024 * 1024
BEGIN = "<!-- results:begin -->"
END = "<!-- results:end -->"


def medians(benchmarks):
    """run name -> (real, cpu) median times in seconds."""
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    out = {}
    for b in benchmarks["benchmarks"]:
        if b.get("aggregate_name") == "median":
            unit = scale[b.get("time_unit", "ns")]
            out[b["run_name"]] = (b["real_time"] * unit, b["cpu_time"] * unit)
    return out


FAMILIES = ["EncodeMatrix", "DrawSymbolV40", "FillDrawnArea", "PasteSymbol", "CropDrawing",
            "WritePng", "WritePngFloor", "WriteBmp", "WriteBmpFloor", "QrFilePng", "QrFileBmp",
            "QrFileBmpPaired"]


def order(name):
    """Benchmarks by family, then by their numbers (version before cell)."""
    family, _, rest = name.partition("/")
    numbers = [int(x) for x in re.findall(r"\d+", rest)]
    rank = FAMILIES.index(family) if family in FAMILIES else len(FAMILIES)
    return rank, numbers, rest


def fmt(seconds):
    if seconds < 1e-3:
        return f"{seconds * 1e6:.1f} µs"
    if seconds < 1:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds:.2f} s"


def cpu_model():
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor()


def package_version(name):
    try:
        # One line per installed architecture; they carry the same version.
        return subprocess.run(["dpkg-query", "-W", "-f=${Version}\n", name],
                              capture_output=True, text=True, check=True).stdout.split("\n")[0]
    except (OSError, subprocess.CalledProcessError):
        return "?"


def drawing_bytes(cell):
    """Pixel bytes of a version 40 drawing: side 185 × cell + 2, rows padded
    to 4 bytes."""
    side = 185 * cell + 2
    return (side * 3 + 3) // 4 * 4 * side


def largest_cell():
    """The largest cell size whose work Image fits a signed 32-bit size."""
    cell = 1
    while drawing_bytes(cell + 1) <= 2**31 - 1:
        cell += 1
    return cell


def memory_lines(procs):
    """Peak memory at version 40 against cell size, and the largest cell size
    for a memory budget."""
    peaks = procs["peak_v40"]
    lines = ["", "### Memory: the console program at version 40, level L", "",
             "Peak resident set (`-q 40 -e 1 -s C -f`, the largest of three runs) and the "
             "file written. A drawing of side 185 × cell + 2 pixels takes 3 bytes a pixel, "
             "held once: the work Image, drawn in place, cropped in place and written from "
             "where it lies.", "",
             "| Cell | Side | Pixel bytes | PNG peak | BMP peak | BMP file | BMP peak / file |",
             "|---|---|---|---|---|---|---|"]
    for c in CELLS_V40:
        png, bmp = peaks[f"png/{c}"], peaks[f"bmp/{c}"]
        lines.append(f"| {c} | {185 * c + 2} | {drawing_bytes(c) / MIB:.1f} MiB | "
                     f"{png['peak_kib'] / 1024:.1f} MiB | {bmp['peak_kib'] / 1024:.1f} MiB | "
                     f"{bmp['file_bytes'] / MIB:.1f} MiB | "
                     f"{bmp['peak_kib'] * 1024 / bmp['file_bytes']:.3f} |")
    # Peak = pixel bytes + what the process needs besides; the largest such
    # rest measured stands for every cell size.
    rest = {kind: max(peaks[f"{kind}/{c}"]["peak_kib"] * 1024 - drawing_bytes(c)
                      for c in CELLS_V40) for kind in ("png", "bmp")}
    cap = largest_cell()
    lines += ["", "Largest cell size for a memory budget at version 40: pixel bytes plus the "
              f"largest rest measured above ({rest['png'] / MIB:.1f} MiB for PNG, "
              f"{rest['bmp'] / MIB:.1f} MiB for BMP). Cell sizes above {cap} cannot be had "
              "at all: the work Image would pass 2 GiB, and the program reports that it "
              "cannot create it.", "",
              "| Memory budget | PNG: largest cell | BMP: largest cell |", "|---|---|---|"]
    for budget in BUDGETS_MIB:
        row = []
        for kind in ("png", "bmp"):
            fits = [c for c in range(1, cap + 1) if drawing_bytes(c) + rest[kind] <= budget * MIB]
            row.append(str(max(fits)) if fits else "none")
        lines.append(f"| {budget} MiB | {row[0]} | {row[1]} |")
    return lines


def comparison_lines(procs):
    """Our console program next to other encoders and the libpng floors."""
    cmp = procs["compare"]
    kinds = {0: "grey", 2: "RGB", 3: "palette"}
    lines = ["", "### Other encoders", "",
             "Whole processes, median wall time, all in random alternation in this run: "
             "`zemQRCode`; `zem_png_floor` writing the very same pixels with libpng as 8-bit "
             "RGB at zlib level 9 (what `zemQRCode` promises), as 1-bit grey at level 9 and "
             "at zlib's default level; and the Debian packages " + ", ".join(
                 f"`{name}` {package_version(name)}" for name in ("qrencode", "zint")
                 if name in cmp["hello"]) + ", which write 1-bit palette PNG files "
             "(their own quiet zone of 4 modules, so 2 pixels narrower). \"HELLO\" is "
             "version 1 at level M, cell 4; version 40 is level L, 8-bit bytes, cell 10.", ""]
    for case, title in (("hello", "HELLO, cell 4"), ("v40", "Version 40, cell 10")):
        lines += [f"| {title} | Time | File | Pixels | PNG format |", "|---|---|---|---|---|"]
        for name, r in cmp[case].items():
            lines.append(f"| {name} | {fmt(r['median_s'])} | {r['bytes']:,} bytes | "
                         f"{r['width']} × {r['height']} | {r['depth']}-bit "
                         f"{kinds.get(r['colour_type'], r['colour_type'])} |")
        lines.append("")
    v40 = cmp["v40"]
    ours, rgb = v40["zemQRCode"]["median_s"], v40["libpng 8-bit RGB"]["median_s"]
    one, default = v40["libpng 1-bit grey"]["median_s"], \
        v40["libpng 1-bit grey, zlib default level"]["median_s"]
    others = ", ".join(f"`{name}` {fmt(v40[name]['median_s'])}" for name in ("qrencode", "zint")
                       if name in v40)
    lines += [f"At version 40, cell 10, the gap is the file format the program promises: "
              f"`zemQRCode` takes {ours / rgb:.2f} × the time of libpng alone writing the same "
              f"8-bit RGB pixels at zlib level 9 ({fmt(rgb)}). The same pixels as 1-bit grey "
              f"take {fmt(one)} at level 9 ({rgb / one:.1f} × less: a 24th of the bytes to "
              f"filter and compress) and {fmt(default)} at zlib's default level "
              f"({rgb / default:.1f} × less); the other encoders, at their own settings: "
              f"{others}. So {1 - default / rgb:.0%} of libpng's time for our file goes to the "
              "8-bit RGB pixels and level 9. Changing the format would change every file the "
              "program writes, so it stays."]
    return lines


def threads_lines(threads):
    """Symbols a second from 1, 2 and 4 threads calling ZEMQRFile at once."""
    rates, cpu = {}, {}
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    for b in threads["benchmarks"]:
        if b.get("aggregate_name") == "median":
            kind = "BMP" if "/bmp:1/" in b["run_name"] else "PNG"
            rates[(kind, b["threads"])] = b["items_per_second"]
            cpu[(kind, b["threads"])] = b["cpu_time"] * scale[b.get("time_unit", "ns")]
    counts = sorted({n for _, n in rates})
    ctx = threads["context"]
    lines = ["", "### Many calls at once: ZEMQRFile from several threads", "",
             "Each thread writes its own file, a version 7 symbol (level L, 8-bit text "
             "filling it, cell 4, 214 × 214 pixels); symbols a second over all threads "
             "(median of the repetitions, wall time), the ratio to one thread, and the "
             "processor time a symbol takes. "
             f"This machine has {ctx['num_cpus']} cores, shared with whatever else runs: "
             f"more than {ctx['num_cpus']} threads cannot go faster, and the rates follow "
             "how much of the cores the run had (load average at the start: "
             f"{', '.join(f'{x:.2f}' for x in ctx.get('load_avg', []))}). The processor "
             "time a symbol takes depends far less on the load: if it stays flat as threads "
             "are added, the calls do not slow each other.", "",
             "| Threads | PNG: symbols/s | PNG: × one thread | PNG: CPU a symbol | "
             "BMP: symbols/s | BMP: × one thread | BMP: CPU a symbol |",
             "|---|---|---|---|---|---|---|"]
    for n in counts:
        cells = []
        for kind in ("PNG", "BMP"):
            rate, one = rates.get((kind, n)), rates.get((kind, 1))
            cells += ([f"{rate:,.0f}", f"{rate / one:.2f}", fmt(cpu[(kind, n)])] if rate and one
                      else ["?", "?", "?"])
        lines.append(f"| {n} | " + " | ".join(cells) + " |")
    return lines


def main():
    results, doc, figure = sys.argv[1:4]
    bench = json.load(open(os.path.join(results, "benchmarks.json")))
    procs = json.load(open(os.path.join(results, "processes.json")))
    m = medians(bench)
    real = {name: times[0] for name, times in m.items()}

    def e2e(kind, version, cell):
        return real[f"QrFile{kind}/version:{version}/cell:{cell}"]

    hello = procs["hello"]
    peak40 = procs["peak_kib"]["40/10"] / 1024
    rows = [
        ("Encoder core, version 40-L 2,953 bytes, automatic mask",
         fmt(real["EncodeMatrix/v40_auto"]), "≤ 1.0 ms", "", real["EncodeMatrix/v40_auto"] <= 1e-3),
        ("Encoder core, version 40-L, fixed mask",
         fmt(real["EncodeMatrix/v40_fixed"]), "≤ 0.2 ms", "", real["EncodeMatrix/v40_fixed"] <= 2e-4),
        ("Encoder core, HELLO at M, automatic mask",
         fmt(real["EncodeMatrix/hello_auto"]), "≤ 20 µs", "", real["EncodeMatrix/hello_auto"] <= 2e-5),
    ]
    ours, floor = e2e("Png", 40, 10), real["WritePngFloor/10"]
    rows.append(("ZEMQRFile to PNG, version 40, cell 10",
                 f"{fmt(ours)} ({ours / floor:.3f} × floor)", "≤ 1.10 × floor", fmt(floor),
                 ours <= 1.10 * floor))
    paired = next(b for b in bench["benchmarks"]
                  if b["run_name"] == "QrFileBmpPaired/10" and b.get("aggregate_name") == "median")
    for what, key, ratio in (("builds the pixels in one buffer, one fwrite", "build_fwrite_ms",
                              "ratio_build_fwrite"),
                             ("one fwrite of ready bytes", "fwrite_ms", "ratio_fwrite")):
        rows.append((f"ZEMQRFile to BMP, version 40, cell 10; floor: {what} (paired)",
                     f"{paired['ours_ms']:.2f} ms ({paired[ratio]:.3f} × floor)",
                     "≤ 1.30 × floor", f"{paired[key]:.2f} ms", paired[ratio] <= 1.30))
    ratio = hello["cli_median_s"] / hello["floor_median_s"]
    rows.append(("Console program, -s 4 -e 2 out.png HELLO (whole process)",
                 f"{fmt(hello['cli_median_s'])} ({ratio:.3f} × floor)", "≤ 1.10 × floor",
                 fmt(hello["floor_median_s"]), ratio <= 1.10))
    bmp = procs["bmp_v40_cell10"]
    ratio = bmp["cli_median_s"] / bmp["floor_median_s"]
    rows.append(("Console program, version 40, cell 10 to BMP (whole process)",
                 f"{fmt(bmp['cli_median_s'])} ({ratio:.3f} × floor)", "≤ 1.30 × floor",
                 fmt(bmp["floor_median_s"]), ratio <= 1.30))
    rows.append(("Console program peak memory, version 40, cell 10, PNG", f"{peak40:.1f} MB",
                 "≤ 40 MB", "", peak40 <= 40))
    big = procs["peak_v40"]["bmp/40"]
    ratio = big["peak_kib"] * 1024 / big["file_bytes"]
    rows.append(("Console program peak memory, version 40, cell 40, BMP",
                 f"{big['peak_kib'] / 1024:.1f} MiB ({ratio:.3f} × file)", "≤ 1.15 × file",
                 f"file {big['file_bytes'] / MIB:.1f} MiB", ratio <= 1.15))

    lines = [BEGIN, ""]
    ctx = bench["context"]
    lines += [
        f"Run of {ctx['date']}: {cpu_model()}, {ctx['num_cpus']} cores at {ctx['mhz_per_cpu']} MHz, "
        f"{platform.system()} {platform.release()}, g++ build type of the project "
        f"RelWithDebInfo (-O2), libpng {package_version('libpng16-16')}, zlib "
        f"{package_version('zlib1g')}. Load average at the start of the benchmarks "
        f"{', '.join(f'{x:.2f}' for x in ctx.get('load_avg', []))}; whatever else runs on the "
        "machine adds noise to wall times (CPU times are in benchmarks.json).",
        "",
        "### Targets",
        "",
        "| What | Median | Target | Floor (same run) | Met |",
        "|---|---|---|---|---|",
    ]
    for what, value, target, floor, ok in rows:
        lines.append(f"| {what} | {value} | {target} | {floor} | {'yes' if ok else 'NO'} |")
    lines += ["", "### All benchmarks (median of the repetitions)", "",
              "| Benchmark | Wall | CPU |", "|---|---|---|"]
    for name, (wall, cpu) in sorted(m.items(), key=lambda item: order(item[0])):
        if name.startswith("QrFileBmpPaired"):
            continue  # three operations an iteration; its figures are in the targets
        lines.append(f"| {name} | {fmt(wall)} | {fmt(cpu)} |")

    lines += ["", "### Scaling: ZEMQRFile to PNG, level L, message filling the version", "",
              "Time is the in-process median of the benchmark; peak memory is the console "
              "program's maximum resident set for the same symbol (`-q V -e 1 -s C -f`).", "",
              "| Version | " + " | ".join(f"cell {c}: time" for c in CELLS) + " | "
              + " | ".join(f"cell {c}: peak" for c in CELLS) + " |",
              "|---" * (1 + 2 * len(CELLS)) + "|"]
    for v in VERSIONS:
        times = " | ".join(fmt(e2e("Png", v, c)) for c in CELLS)
        peaks = " | ".join(f"{procs['peak_kib'][f'{v}/{c}'] / 1024:.1f} MB" for c in CELLS)
        lines.append(f"| {v} | {times} | {peaks} |")
    lines += ["", f"![Time and peak memory against version and cell size]({os.path.basename(figure)})"]
    lines += memory_lines(procs)
    lines += comparison_lines(procs)
    threads_json = os.path.join(results, "threads.json")
    if os.path.exists(threads_json):
        lines += threads_lines(json.load(open(threads_json)))
    lines += ["", END]

    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2))
    for c in CELLS:
        left.plot(VERSIONS, [e2e("Png", v, c) * 1e3 for v in VERSIONS], marker="o", label=f"cell {c}")
        right.plot(VERSIONS, [procs["peak_kib"][f"{v}/{c}"] / 1024 for v in VERSIONS], marker="o",
                   label=f"cell {c}")
    left.set_yscale("log")
    left.set_title("ZEMQRFile to PNG: median time")
    left.set_xlabel("version")
    left.set_ylabel("ms")
    right.set_title("zemQRCode: peak resident memory")
    right.set_xlabel("version")
    right.set_ylabel("MB")
    for axes in (left, right):
        axes.set_xticks(VERSIONS)
        axes.grid(True, alpha=0.3)
        axes.legend()
    fig.tight_layout()
    fig.savefig(figure, dpi=90, metadata={"Software": None})

    text = open(doc).read()
    text = re.sub(re.escape(BEGIN) + ".*" + re.escape(END), lambda _: "\n".join(lines), text,
                  flags=re.S)
    open(doc, "w").write(text)


if __name__ == "__main__":
    main()
