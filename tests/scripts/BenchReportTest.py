"""The figures table and the rewrite of docs/performance.md by
scripts/bench_report.py."""
import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # nothing left behind in scripts/
sys.path.insert(0, os.environ.get("HALYARD_SCRIPTS",
                                  os.path.join(os.path.dirname(__file__), "..", "..", "scripts")))
import bench_report  # noqa: E402

HEADER = ("cameras,receiver,us_per_packet,packets,pictures,lost,delay_p50_us,delay_p99_us,delay_max_us,"
          "rss_kib_per_camera,threads_per_camera,sent_fps_per_camera,cameras_with_receiver_reports\n")


def write(text):
    f = tempfile.NamedTemporaryFile("w", suffix=".csv", delete=False)
    f.write(text)
    f.close()
    return f.name


def rows_of(table):
    """Receiver row cells by (cameras, receiver)."""
    out = {}
    for line in table.splitlines()[2:]:
        cells = [c.strip() for c in line.strip("|").split("|")]
        out[(int(cells[0]), cells[1])] = cells
    return out


class Table(unittest.TestCase):
    def test_ratios_delays_and_dashes(self):
        path = write(HEADER +
                     "16,bare,2.000,100,0,0,-1,-1,-1,300,1.00,30.0,0\n"
                     "16,plain,2.500,100,50,1,200,400,900,270,1.00,30.0,0\n"
                     "16,driver,3.000,100,50,0,250,600,1200,170,4.00,30.0,16\n"
                     "64,driver,4.000,100,50,0,250,600,1200,170,4.00,29.5,60\n")
        try:
            rows = rows_of(bench_report.table(bench_report.load(path)))
        finally:
            os.unlink(path)
        cases = [
            # (cameras, receiver, column, expected)
            (16, "bare", 3, "1.00"),         # × bare of the floor itself
            (16, "bare", 4, "–"),            # the floor is not compared with the plain path
            (16, "bare", 5, "–"),            # no pictures, so no delays
            (16, "bare", 6, "–"),            # nor losses
            (16, "plain", 3, "1.25"),
            (16, "plain", 4, "1.00"),
            (16, "plain", 5, "200 / 400 / 900"),
            (16, "plain", 6, "1"),
            (16, "driver", 3, "1.50"),       # 3.0 / 2.0
            (16, "driver", 4, "1.20"),       # 3.0 / 2.5
            (16, "driver", 10, "16 of 16"),
            (16, "plain", 10, "–"),          # only the driver sends receiver reports
            (64, "driver", 3, "–"),          # no floor measured at that count
            (64, "driver", 4, "–"),
            (64, "driver", 9, "29.5"),
            (64, "driver", 10, "60 of 64"),
        ]
        for cameras, receiver, column, expected in cases:
            with self.subTest(cameras=cameras, receiver=receiver, column=column):
                self.assertEqual(rows[(cameras, receiver)][column], expected)


class Runs(unittest.TestCase):
    def test_last_run_in_full_and_every_run_against_the_plain_path(self):
        header = "run," + HEADER.rstrip("\n") + ",switches_per_packet,stop_ms_max\n"
        path = write(header +
                     "1,64,plain,2.000,100,50,0,200,400,900,270,1.00,30.0,0,0.500,-1.0\n"
                     "1,64,driver,2.100,100,50,0,250,500,1200,170,4.00,30.0,64,0.520,2.5\n"
                     "2,64,plain,2.000,100,50,3,200,400,900,270,1.00,30.0,0,0.500,-1.0\n"
                     "2,64,driver,4.000,100,50,0,250,-1,1200,170,4.00,30.0,63,0.520,12.0\n")
        try:
            runs = bench_report.load_runs(path)
            last = rows_of(bench_report.table(bench_report.load(path)))
        finally:
            os.unlink(path)
        self.assertEqual(sorted(runs), [1, 2])
        self.assertEqual(last[(64, "driver")][4], "2.00")   # run 2's 4.0 / 2.0
        self.assertEqual(last[(64, "driver")][11], "0.520")
        self.assertEqual(last[(64, "driver")][12], "12.0")
        self.assertEqual(last[(64, "plain")][12], "–")       # the plain path's stop is not timed
        lines = rows_of(bench_report.runs_table(runs))
        # rows_of keys on the first two cells: (run, cameras); no pair row,
        # so nothing in the in-process columns
        self.assertEqual(lines[(1, "64")], ["1", "64", "–", "–", "–", "1.05", "1.25", "0 / 0", "64 of 64", "2.5"])
        self.assertEqual(lines[(2, "64")], ["2", "64", "–", "–", "–", "2.00", "–", "3 / 0", "63 of 64", "12.0"])

    def test_paired_medians_take_the_place_of_the_rows_ratio(self):
        # The printed row is the median-cost round; the paired column is the
        # median of per-round ratios, which need not be that row's ratio.
        header = (HEADER.rstrip("\n") +
                  ",switches_per_packet,stop_ms_max,paired_x_bare,paired_x_plain,paired_p99_x_plain\n")
        path = write(header +
                     "64,bare,1.000,100,0,0,-1,-1,-1,300,1.00,30.0,0,0.04,-1.0,1.000,-1.000,-1.000\n"
                     "64,plain,2.000,100,50,0,200,400,900,270,1.00,30.0,0,0.04,-1.0,1.900,1.000,1.000\n"
                     "64,driver,2.600,100,50,0,250,500,1200,170,4.00,30.0,64,0.04,3.0,2.050,1.030,0.800\n"
                     "16,driver,2.600,100,50,0,250,500,1200,170,4.00,30.0,16,0.04,3.0,-1.000,-1.000,-1.000\n"
                     "16,plain,2.000,100,50,0,200,400,900,270,1.00,30.0,0,0.04,-1.0,-1.000,-1.000,-1.000\n")
        try:
            rows = rows_of(bench_report.table(bench_report.load(path)))
            runs = bench_report.runs_table(bench_report.load_runs(path))
        finally:
            os.unlink(path)
        self.assertEqual(rows[(64, "driver")][3:5], ["2.05", "1.03"])  # not 2.60 and 1.30
        self.assertEqual(rows[(64, "plain")][3:5], ["1.90", "1.00"])
        self.assertEqual(rows[(16, "driver")][4], "1.30")             # -1: no pairs, the rows divided
        self.assertEqual(rows_of(runs)[(1, "64")][5:7], ["1.03", "0.80"])  # p99 paired too, not 500 / 400
        self.assertEqual(rows_of(runs)[(1, "16")][5:7], ["1.30", "1.25"])  # no pairs: 2.6 / 2.0, 500 / 400

    def test_driver_beside_plain(self):
        # Its ratios are the bench's in-process ones; its cost, memory and
        # threads mix both paths and are not shown; losses are plain / driver.
        header = (HEADER.rstrip("\n") + ",switches_per_packet,stop_ms_max,paired_x_bare,paired_x_plain,"
                  "paired_p99_x_plain,pair_plain_lost\n")
        path = write(header +
                     "64,plain,2.000,100,50,7,200,400,900,270,1.00,30.0,0,0.04,-1.0,-1.000,1.000,1.000,-1\n"
                     "64,driver,2.600,100,50,0,250,500,1200,170,4.00,30.0,64,0.04,3.0,-1.000,1.090,1.200,-1\n"
                     "64,pair,2.300,100,50,1,210,420,800,150,2.50,30.0,32,0.04,1.5,-1.000,1.042,0.991,4\n")
        try:
            row = rows_of(bench_report.table(bench_report.load(path)))[(64, "driver beside plain")]
            runs = rows_of(bench_report.runs_table(bench_report.load_runs(path)))[(1, "64")]
        finally:
            os.unlink(path)
        cases = [
            (2, "–"), (3, "–"), (7, "–"), (8, "–"),   # cost, × bare, memory, threads
            (4, "1.042"),                            # not 2.30 / 2.00
            (5, "210 / 420 / 800"),                  # the driver's cameras' delays
            (6, "4 / 1"),
            (10, "32 of 32"),                        # the driver has half the cameras
        ]
        for column, expected in cases:
            with self.subTest(column=column):
                self.assertEqual(row[column], expected)
        self.assertEqual(runs[2:8], ["1.042", "0.991", "4 / 1", "1.09", "1.20", "7 / 0"])
        self.assertEqual(runs[9], "3.0")  # the longer of the two stops

    def test_old_files_without_run_or_new_columns(self):
        path = write(HEADER + "16,driver,3.000,100,50,0,250,600,1200,170,4.00,30.0,16\n")
        try:
            self.assertEqual(list(bench_report.load_runs(path)), [1])
            row = rows_of(bench_report.table(bench_report.load(path)))[(16, "driver")]
        finally:
            os.unlink(path)
        self.assertEqual(row[11:], ["–", "–"])


class Document(unittest.TestCase):
    def rewrite(self, body):
        csv = write(HEADER + "16,bare,2.000,100,0,0,-1,-1,-1,300,1.00,30.0,0\n")
        doc = write(body)
        try:
            bench_report.plot = lambda rows, svg: None  # matplotlib is not what is tested here
            self.assertEqual(bench_report.main(["bench_report.py", csv, doc, "/tmp/unused.svg"]), 0)
            with open(doc) as f:
                return f.read()
        finally:
            os.unlink(csv)
            os.unlink(doc)

    def test_replaces_only_between_the_markers(self):
        out = self.rewrite("intro\n" + bench_report.BEGIN + "\nold table\n" + bench_report.END + "\nnotes\n")
        self.assertTrue(out.startswith("intro\n" + bench_report.BEGIN + "\n| Cameras |"))
        self.assertTrue(out.endswith(bench_report.END + "\nnotes\n"))
        self.assertNotIn("old table", out)
        self.assertIn("![cost per packet and p99 delay](unused.svg)", out)

    def test_appends_the_block_when_there_are_no_markers(self):
        out = self.rewrite("intro\n")
        self.assertTrue(out.startswith("intro\n\n" + bench_report.BEGIN))
        self.assertEqual(out.count(bench_report.BEGIN), 1)
        self.assertTrue(out.endswith(bench_report.END + "\n"))


if __name__ == "__main__":
    unittest.main()
