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
            "WritePng", "WritePngFloor", "WriteBmp", "WriteBmpFloor", "QrFilePng", "QrFileBmp"]


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
        return subprocess.run(["dpkg-query", "-W", "-f=${Version}", name],
                              capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return "?"


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
    for kind, floor_name, limit in (("Png", "WritePngFloor/10", 1.10), ("Bmp", "WriteBmpFloor/10", 1.5)):
        ours, floor = e2e(kind, 40, 10), real[floor_name]
        rows.append((f"ZEMQRFile to {kind.upper()}, version 40, cell 10",
                     f"{fmt(ours)} ({ours / floor:.3f} × floor)", f"≤ {limit:.2f} × floor",
                     fmt(floor), ours <= limit * floor))
    ratio = hello["cli_median_s"] / hello["floor_median_s"]
    rows.append(("Console program, -s 4 -e 2 out.png HELLO (whole process)",
                 f"{fmt(hello['cli_median_s'])} ({ratio:.3f} × floor)", "≤ 1.10 × floor",
                 fmt(hello["floor_median_s"]), ratio <= 1.10))
    rows.append(("Console program peak memory, version 40, cell 10", f"{peak40:.1f} MB", "≤ 40 MB",
                 "", peak40 <= 40))

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
    lines += ["", f"![Time and peak memory against version and cell size]({os.path.basename(figure)})",
              "", END]

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
