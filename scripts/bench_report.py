#!/usr/bin/env python3
"""Turns halyard_bench_scale's CSV into a table (printed), and with a
Markdown and an SVG path also writes the table between the bench markers of
the Markdown file and the plot into the SVG.

Ratios are the bench's paired medians where it gave them (several rounds:
each round's ratio, then the median), else the rows' costs divided.

The CSV may hold several runs (a leading "run" column, as scripts/bench.sh
writes with --runs): the full table and the plot show the last run, a
second table the driver against the plain path in every run.

A "pair" row is the plain path and the driver in one process at once, half
the cameras each: its ratios are the driver's threads' CPU and its cameras'
p99 delay over the plain path's in the same windows, its cost, memory and
threads a mix of both and not shown."""
import csv
import datetime
import os
import platform
import sys

BEGIN = "<!-- bench:begin -->"
END = "<!-- bench:end -->"
RECEIVERS = ["bare", "plain", "driver", "pair"]
PLOTTED = ["bare", "plain", "driver"]
LABELS = {"pair": "driver beside plain"}
COLOURS = {"bare": "tab:blue", "plain": "tab:orange", "driver": "tab:green"}  # same in both panels


def load_runs(path):
    """{run: {(cameras, receiver): row}}; a CSV without a run column is run 1."""
    runs = {}
    with open(path, newline="") as f:
        for r in csv.DictReader(f):
            runs.setdefault(int(r.get("run") or 1), {})[(int(r["cameras"]), r["receiver"])] = r
    return runs


def load(path):
    """The last run's rows."""
    runs = load_runs(path)
    return runs[max(runs)] if runs else {}


def ratio(a, b):
    return "%.2f" % (a / b) if b > 0 else "–"


def cost_ratio(r, base, column, figure="us_per_packet"):
    """r's figure over base's: the bench's paired median when it gave one
    (several rounds), else the two rows' figures."""
    paired = r.get(column)
    if paired not in (None, "") and float(paired) >= 0:
        return "%.2f" % float(paired)
    if not base or float(r[figure]) < 0:
        return "–"
    return ratio(float(r[figure]), float(base[figure]))


def delay(r):
    if float(r["delay_p50_us"]) < 0:
        return "–"
    return "%s / %s / %s" % (r["delay_p50_us"], r["delay_p99_us"], r["delay_max_us"])


def table(rows):
    counts = sorted({c for c, _ in rows})
    out = ["| Cameras | Receiver | µs/packet | × bare | × plain | delay p50 / p99 / max µs "
           "| pictures lost | RSS KiB/camera | threads/camera | sent pictures/s per camera | cameras with receiver reports "
           "| switches/packet | longest stop ms |",
           "|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for c in counts:
        bare = rows.get((c, "bare"))
        plain = rows.get((c, "plain"))
        for name in RECEIVERS:
            r = rows.get((c, name))
            if r is None:
                continue
            pair = name == "pair"
            cost = "–" if pair else "%.2f" % float(r["us_per_packet"])
            to_bare = cost_ratio(r, bare, "paired_x_bare") if bare and not pair else "–"
            if pair:
                to_plain = paired(r, "paired_x_plain")
            else:
                to_plain = cost_ratio(r, plain, "paired_x_plain") if plain and name != "bare" else "–"
            lost = "–" if name == "bare" else lost_figure(r)
            reports = r.get("cameras_with_receiver_reports")
            # A pair's driver has every other camera, the odd ones.
            of = {"driver": c, "pair": c // 2}.get(name)
            reports = "%s of %d" % (reports, of) if reports is not None and of is not None else "–"
            rss, threads = ("–", "–") if pair else (r["rss_kib_per_camera"], r["threads_per_camera"])
            out.append("| %d | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
                c, LABELS.get(name, name), cost, to_bare, to_plain, delay(r), lost, rss, threads,
                r.get("sent_fps_per_camera", "–"), reports, r.get("switches_per_packet") or "–", stop(r)))
    return "\n".join(out)


def paired(r, column):
    value = r.get(column)
    return "%.3f" % float(value) if value not in (None, "") and float(value) >= 0 else "–"


def lost_figure(r):
    """A pair row's losses as plain / driver, any other row's as they stand."""
    plain = r.get("pair_plain_lost")
    if r["receiver"] == "pair" and plain not in (None, "") and int(plain) >= 0:
        return "%s / %s" % (plain, r["lost"])
    return r["lost"]


def stop(r):
    value = r.get("stop_ms_max")
    return "–" if value is None or value == "" or float(value) < 0 else "%.1f" % float(value)


def runs_table(runs):
    """The driver against the plain path, one line per run and count: in one
    process at once (the pair), then in windows of their own."""
    out = ["| Run | Cameras | in one process: driver × plain, CPU | p99 delay | pictures lost, plain / driver "
           "| one after the other: driver × plain, CPU/packet | p99 delay | pictures lost, plain / driver "
           "| cameras with receiver reports | longest stop ms |",
           "|---|---|---|---|---|---|---|---|---|---|"]
    for run in sorted(runs):
        rows = runs[run]
        for c in sorted({c for c, _ in rows}):
            plain, driver, pair = rows.get((c, "plain")), rows.get((c, "driver")), rows.get((c, "pair"))
            if pair is not None:
                together = (paired(pair, "paired_x_plain"), paired(pair, "paired_p99_x_plain"), lost_figure(pair))
            else:
                together = ("–", "–", "–")
            if plain is not None and driver is not None:
                apart = (cost_ratio(driver, plain, "paired_x_plain"),
                         cost_ratio(driver, plain, "paired_p99_x_plain", "delay_p99_us"),
                         "%s / %s" % (plain["lost"], driver["lost"]))
            else:
                apart = ("–", "–", "–")
            if pair is None and driver is None:
                continue
            reports = "%s of %d" % (driver.get("cameras_with_receiver_reports", "–"), c) if driver else "–"
            stops = [s for s in (stop(driver) if driver else "–", stop(pair) if pair else "–") if s != "–"]
            out.append("| %d | %d | %s | %s | %s | %s | %s | %s | %s | %s |" % (
                (run, c) + together + apart + (reports, max(stops, key=float) if stops else "–")))
    return "\n".join(out)


def machine():
    model = platform.processor() or "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%d cores (%s), Linux %s" % (os.cpu_count() or 0, model, platform.release())


def plot(rows, svg):
    import matplotlib
    matplotlib.use("svg")
    import matplotlib.pyplot as plt

    counts = sorted({c for c, _ in rows})
    fig, (cost, tail) = plt.subplots(1, 2, figsize=(10, 4))
    for name in PLOTTED:
        xs = [c for c in counts if (c, name) in rows]
        cost.plot(xs, [float(rows[(c, name)]["us_per_packet"]) for c in xs], marker="o", label=name,
                  color=COLOURS[name])
        if name != "bare":
            tail.plot(xs, [float(rows[(c, name)]["delay_p99_us"]) for c in xs], marker="o", label=name,
                      color=COLOURS[name])
    for ax, title in ((cost, "CPU per packet (µs)"), (tail, "p99 delay, first datagram to callback (µs)")):
        ax.set_xscale("log", base=2)
        ax.set_xticks(counts)
        ax.set_xticklabels([str(c) for c in counts])
        ax.set_xlabel("cameras")
        ax.set_title(title)
        ax.set_ylim(bottom=0)
        ax.grid(True, alpha=0.3)
        ax.legend()
    fig.tight_layout()
    fig.savefig(svg, metadata={"Date": None})


def main(argv):
    if len(argv) not in (2, 4):
        sys.stderr.write("usage: bench_report.py RESULTS.csv [DOC.md PLOT.svg]\n")
        return 2
    runs = load_runs(argv[1])
    if not runs:
        sys.stderr.write("no results\n")
        return 1
    rows = runs[max(runs)]
    text = table(rows)
    if len(runs) > 1:
        text = "%s\n\nThe driver against the plain path, run by run (the table above is run %d):\n\n%s" % (
            text, max(runs), runs_table(runs))
    print(text)
    if len(argv) == 4:
        doc, svg = argv[2], argv[3]
        plot(rows, svg)
        block = "%s\n%s\n\nTaken %s on %s.\n\n![cost per packet and p99 delay](%s)\n%s" % (
            BEGIN, text, datetime.date.today().isoformat(), machine(), os.path.basename(svg), END)
        with open(doc) as f:
            body = f.read()
        start, end = body.find(BEGIN), body.find(END)
        if start < 0 or end < start:
            body = body.rstrip("\n") + "\n\n" + block + "\n"
        else:
            body = body[:start] + block + body[end + len(END):]
        with open(doc, "w") as f:
            f.write(body)
        print("\nwrote %s and %s" % (doc, svg))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
