#!/usr/bin/python3
"""End-to-end checks of the stability analysis: sedimetra-batch analyse on a
generated project, its verdicts and predictions checked against a computation
written here from the definitions (plain least squares, no numpy), and the
sheet 稳定性分析 of the results workbook read back with openpyxl.

usage: tst_stability_batch.py BIN_DIR SOURCE_DIR
"""
import csv
import datetime
import io
import json
import math
import pathlib
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import openpyxl
from scipy import stats

BIN = pathlib.Path(sys.argv[1])
SOURCE = pathlib.Path(sys.argv[2])

START = datetime.date(2019, 3, 1)
# Days of the epochs and the floors built by then: loading up to epoch 5,
# constant from epoch 4 (floors 12) on.
DAYS = [0, 20, 45, 70, 100, 130, 165, 200, 240, 280, 330, 380, 430, 480]
FLOORS = [2, 5, 8, 11, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12]


def settlement(point, t):
    """mm at day t for each kind of point."""
    if point == 1:  # hyperbolic from day 100 after 20 mm of loading
        x = max(t - 100, 0)
        return -20 * min(t, 100) / 100 - (x / (0.05 * x + 4) if x else 0)
    if point == 2:  # exponential towards −35 mm
        return -35 * (1 - math.exp(-t / 120))
    if point == 3:  # steady creep, never stops
        return -0.06 * t
    if point == 4:  # settled early, stable at the end
        return -12 * (1 - math.exp(-t / 30))
    return -0.01 * t  # point 5: slow, and a 0 record in one epoch


def elevation(point, k):
    if point == 5 and k == 7:
        return 0.0  # a record of 0 counts as missing
    if point == 2 and k in (3, 9):
        return None  # not observed
    return round(30 + point + settlement(point, DAYS[k]) / 1000, 5)


def make_program(root):
    program = root / "program"
    program.mkdir()
    shutil.copy(BIN / "sedimetra-batch", program)
    shutil.copytree(BIN / "Support", program / "Support")
    with sqlite3.connect(program / "Sdmx.mdb") as db:
        db.executescript((SOURCE / "Support/Db/sdmx.sql").read_text(encoding="utf-8"))
    return program


def make_project(path):
    shutil.copy(BIN / "Support/Db/数据库模板.mdb", path)
    with sqlite3.connect(path) as db:
        for k, day in enumerate(DAYS):
            date = (START + datetime.timedelta(days=day)).isoformat()
            db.execute("INSERT INTO Sur1 VALUES (?, ?, ?, ?)", (k, date, f"第{k}次", FLOORS[k]))
        for j in range(1, 6):
            db.execute("INSERT INTO Sur3 VALUES (?, ?, ?, ?)", (j, f"沉{j}", j, "圆"))
            for k in range(len(DAYS)):
                h = elevation(j, k)
                if h is not None:
                    db.execute("INSERT INTO Sur2 VALUES (?, ?, ?)", (k, j, h))
        # Point 6 has no first elevation: it has no series.
        db.execute("INSERT INTO Sur3 VALUES (6, '沉6', 6, '圆')")
        db.execute("INSERT INTO Sur2 VALUES (3, 6, 40.0)")


def line_fit(xs, ys):
    n = len(xs)
    sx, sy = sum(xs), sum(ys)
    sxx = sum(x * x for x in xs)
    sxy = sum(x * y for x, y in zip(xs, ys))
    den = n * sxx - sx * sx
    if den == 0:
        return None
    a = (n * sxy - sx * sy) / den
    b = (sy - a * sx) / n
    my = sy / n
    ss_tot = sum((y - my) ** 2 for y in ys)
    ss_res = sum((y - (a * x + b)) ** 2 for x, y in zip(xs, ys))
    return a, b, (1 - ss_res / ss_tot) if ss_tot else 1.0


def covariance(xs, ys):
    """The covariance of (slope, intercept) of the least-squares line, by
    numpy, and Student's t at 97.5 % for its n − 2 degrees of freedom."""
    A = np.column_stack([np.asarray(xs, float), np.ones(len(xs))])
    coef, *_ = np.linalg.lstsq(A, np.asarray(ys, float), rcond=None)
    dof = len(xs) - 2
    residual = np.sum((A @ coef - np.asarray(ys, float)) ** 2)
    return residual / dof * np.linalg.inv(A.T @ A), stats.t.ppf(0.975, dof)


def expected(point, window, limit, step):
    """The definitions, computed from the elevations as generated."""
    h0 = elevation(point, 0)
    series = []
    for k in range(len(DAYS)):
        h = elevation(point, k)
        if h:
            series.append((k, DAYS[k], (h - h0) * 1000))
    t_last, s_last = series[-1][1], series[-1][2]
    rates = [(b[1], (b[2] - a[2]) / (b[1] - a[1]))
             for a, b in zip(series, series[1:]) if b[1] > a[1]]
    inside = [r for t, r in rates if t > t_last - window]
    max_rate = max(inside, key=abs) if inside else None
    old = [p for p in series if p[1] <= t_last - window]
    mean_rate = (s_last - old[-1][2]) / (t_last - old[-1][1]) if old else None
    if t_last < window or max_rate is None:
        verdict = "观测期不足"
    else:
        verdict = "稳定" if abs(max_rate) < limit else "未稳定"
    start = FLOORS.index(FLOORS[-1])
    period = [p for p in series if p[0] >= start]
    t0, s0 = period[0][1], period[0][2]
    pts = [(t - t0, (t - t0) / (s - s0)) for _, t, s in period if t > t0 and s != s0]
    s_end = period[-1][2]
    enough = 1 + sum(1 for _, t, _ in period if t > t0) >= 5

    def trusted(s_inf, half):
        """Beyond what the point has done, in the way it moves, and its 95 %
        interval within 20 % of the settlement it forecasts."""
        return (s_inf - s_end) * math.copysign(1, s_end - s0) >= -0.01 and half <= 0.2 * abs(s_inf - s0)

    hyperbolic = None
    if len(pts) >= 3 and enough:
        fit = line_fit([p[0] for p in pts], [p[1] for p in pts])
        # A slope within rounding of 0 is 0 (see the analysis); a and b of
        # one sign, or the curve has a pole.
        if fit and abs(fit[0]) * max(p[0] for p in pts) > 1e-9 * abs(fit[1]) and fit[0] * fit[1] > 0:
            a, b, r2 = fit
            # σ(s∞) = σ(a) / a², by the delta method.
            cov, t975 = covariance([p[0] for p in pts], [p[1] for p in pts])
            half = t975 * math.sqrt(cov[0][0]) / a ** 2
            if trusted(s0 + 1 / a, half):
                hyperbolic = {"a": a, "b": b, "s_inf": s0 + 1 / a, "r2": r2,
                              "s_inf_low": s0 + 1 / a - half, "s_inf_high": s0 + 1 / a + half}
            # A sinking point whose fit slowed below the limit before the
            # last epoch, while the observed rate says it has not: not trusted.
            if hyperbolic and verdict == "未稳定" and a < 0:
                # On sinking magnitudes y = τ / (A·τ + B), A = −a, B = −b: the
                # rate 1 / ... falls to the limit at τ = (√(B / limit) − B) / A.
                tau = (math.sqrt(-b / limit) + b) / -a
                if not tau > 0 or t0 + tau < t_last:
                    hyperbolic = None
    samples = []
    t = t0
    while t <= t_last:
        for (_, ta, sa), (_, tb, sb) in zip(period, period[1:]):
            if ta <= t <= tb:
                samples.append(sa + (sb - sa) * (t - ta) / (tb - ta))
                break
        t += step
    asaoka = None
    if len(samples) >= 4 and enough:
        fit = line_fit(samples[:-1], samples[1:])
        if fit and 0 < fit[0] < 1 - 1e-9:
            b1, b0 = fit[0], fit[1]
            s_inf = b0 / (1 - b1)
            # s∞ = β0 / (1 − β1): its gradient against the covariance.
            cov, t975 = covariance(samples[:-1], samples[1:])
            g = np.array([b0 / (1 - b1) ** 2, 1 / (1 - b1)])  # ∂/∂β1, ∂/∂β0
            half = t975 * math.sqrt(max(g @ cov @ g, 0))
            if trusted(s_inf, half):
                asaoka = {"beta0": b0, "beta1": b1, "s_inf": s_inf, "r2": fit[2],
                          "s_inf_low": s_inf - half, "s_inf_high": s_inf + half}
    return {"number": point, "name": f"沉{point}", "t_last": t_last, "s_last": s_last,
            "max_rate": max_rate, "mean_rate": mean_rate, "verdict": verdict,
            "hyperbolic": hyperbolic, "asaoka": asaoka}


class StabilityAnalysis(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.dir.name)
        self.program = make_program(self.root)
        self.project = self.root / "楼.mdb"
        make_project(self.project)

    def tearDown(self):
        self.dir.cleanup()

    def batch(self, *args):
        return subprocess.run([str(self.program / "sedimetra-batch"), *map(str, args)],
                              capture_output=True, timeout=60)

    def assertClose(self, got, want, what):
        if want is None:
            self.assertIsNone(got, what)
        else:
            self.assertIsNotNone(got, what)
            self.assertLessEqual(abs(got - want), 1e-7 * max(1, abs(want)), f"{what}: {got} != {want}")

    def test_json_matches_the_definitions(self):
        for window, limit, step in ((100, 0.04, 30), (150, 0.02, 20)):
            with self.subTest(window=window, limit=limit, step=step):
                run = self.batch("analyse", self.project, "--window", window, "--limit", limit,
                                 "--step", step, "--format", "json")
                self.assertEqual(run.returncode, 0, run.stderr.decode())
                got = json.loads(run.stdout)
                self.assertEqual(got["settings"], {"window": window, "limit": limit, "step": step,
                                                   "max_interval_percent": 20})
                self.assertEqual([p["number"] for p in got["points"]], [1, 2, 3, 4, 5])
                verdicts = []
                for point in got["points"]:
                    want = expected(point["number"], window, limit, step)
                    verdicts.append(want["verdict"])
                    for key in ("name", "t_last", "verdict"):
                        self.assertEqual(point[key], want[key], (point["number"], key))
                    for key in ("s_last", "max_rate", "mean_rate"):
                        self.assertClose(point[key], want[key], (point["number"], key))
                    for method, keys in (("hyperbolic", ("a", "b", "s_inf", "r2", "s_inf_low", "s_inf_high")),
                                         ("asaoka", ("beta0", "beta1", "s_inf", "s_inf_low", "s_inf_high"))):
                        if want[method] is None:
                            self.assertIsNone(point[method], (point["number"], method))
                            self.assertTrue(point[method + "_reason"], (point["number"], method))
                            continue
                        self.assertIsNone(point[method + "_reason"], (point["number"], method))
                        for key in keys:
                            self.assertClose(point[method][key], want[method][key],
                                             (point["number"], method, key))
                building = ("未稳定" if "未稳定" in verdicts else
                            "稳定" if "稳定" in verdicts else "观测期不足")
                self.assertEqual(got["building"]["verdict"], building)
        # What the data were made to show.
        default = json.loads(self.batch("analyse", self.project, "--format", "json").stdout)
        points = {p["number"]: p for p in default["points"]}
        self.assertEqual(points[3]["verdict"], "未稳定")
        self.assertEqual(points[4]["verdict"], "稳定")
        self.assertEqual(default["building"]["verdict"], "未稳定")
        # The hyperbola's own end: −20 − 1/0.05 = −40 mm.
        self.assertAlmostEqual(points[1]["hyperbolic"]["s_inf"], -40, delta=0.05)
        self.assertIsNone(points[3]["asaoka"])  # a constant rate has no end

    def test_csv_and_workbook_show_the_same_table(self):
        data = json.loads(self.batch("analyse", self.project, "--format", "json").stdout)
        run = self.batch("analyse", self.project, "--format", "csv")
        self.assertEqual(run.returncode, 0, run.stderr.decode())
        self.assertTrue(run.stdout.startswith(b"\xef\xbb\xbf"))
        rows = list(csv.reader(io.StringIO(run.stdout.decode("utf-8-sig"))))
        self.assertEqual(rows[0][:4], ["点号", "点名", "观测天数(d)", "累计沉降(mm)"])
        self.assertEqual(len(rows), 1 + len(data["points"]))
        for row, point in zip(rows[1:], data["points"]):
            self.assertEqual(row[1], point["name"])
            self.assertEqual(float(row[3]), round(point["s_last"], 2))
            self.assertEqual(row[6], point["verdict"])
            self.assertEqual(row[9], "—" if point["asaoka"] is None
                             else f"{point['asaoka']['s_inf']:.2f}")

        run = self.batch("table", self.project)
        self.assertEqual(run.returncode, 0, run.stderr.decode())
        workbook = openpyxl.load_workbook(self.root / "楼.xlsx")
        self.assertEqual(workbook.sheetnames, ["沉降观测成果表", "稳定性分析"])
        sheet = workbook["稳定性分析"]
        # It prints: A4 landscape, one page wide, rows 1 to 5 on every page.
        self.assertEqual(sheet.page_setup.orientation, "landscape")
        self.assertEqual(sheet.page_setup.fitToWidth, 1)
        self.assertTrue(sheet.sheet_properties.pageSetUpPr.fitToPage)
        self.assertEqual(sheet.print_title_rows, "$1:$5")
        self.assertEqual(sheet["A2"].value, f"建筑物稳定性：{data['building']['verdict']}")
        self.assertIn("稳定速率 0.04 mm/d", sheet["A3"].value)
        self.assertEqual([c.value for c in sheet[5]], rows[0])
        for r, point in enumerate(data["points"], start=6):
            self.assertEqual(sheet.cell(r, 1).value, point["number"])
            self.assertAlmostEqual(sheet.cell(r, 4).value, round(point["s_last"], 2), places=9)
            self.assertEqual(sheet.cell(r, 4).number_format, "0.00")
            self.assertEqual(sheet.cell(r, 7).value, point["verdict"])
            hyperbolic = sheet.cell(r, 8).value
            if point["hyperbolic"] is None:
                self.assertEqual(hyperbolic, "—")
            else:
                self.assertAlmostEqual(hyperbolic, round(point["hyperbolic"]["s_inf"], 2), places=9)

    def test_the_buildings_own_settings_are_used_and_stated(self):
        # This building is judged at 0.02 mm/d; the program-wide value stays 0.04.
        with sqlite3.connect(self.project) as db:
            db.execute("CREATE TABLE IF NOT EXISTS HeaderFields (Name TEXT PRIMARY KEY, Value TEXT)")
            db.execute("INSERT OR REPLACE INTO HeaderFields VALUES ('稳定速率', '0.02')")
        got = json.loads(self.batch("analyse", self.project, "--format", "json").stdout)
        self.assertEqual(got["settings"]["limit"], 0.02)
        for point in got["points"]:
            self.assertEqual(point["verdict"], expected(point["number"], 100, 0.02, 30)["verdict"])
        self.assertEqual(self.batch("table", self.project).returncode, 0)
        sheet = openpyxl.load_workbook(self.root / "楼.xlsx")["稳定性分析"]
        self.assertIn("稳定速率 0.02 mm/d", sheet["A3"].value)
        # A table a client prints: every cell of it bordered, the headings wrapped.
        for cell in ("A5", "N5", "B6", "N6"):
            self.assertEqual((sheet[cell].border.left.style, sheet[cell].border.bottom.style), ("thin", "thin"), cell)
        self.assertTrue(sheet["N5"].alignment.wrap_text)
        # An option still rules a run.
        got = json.loads(self.batch("analyse", self.project, "--limit", "0.05", "--format", "json").stdout)
        self.assertEqual(got["settings"]["limit"], 0.05)

    def test_a_forecast_not_trusted_is_told_not_shown(self):
        # 沉7 sinks under load, comes to rest at −29.4 mm, then drops to
        # −35 mm at the last epoch: a hyperbola through the period ends short
        # of what was observed. No figure of it anywhere, the reason everywhere.
        path = [-20 * d / 100 for d in DAYS[:4]] + [-20, -25, -27, -28, -28.5, -29, -29.2, -29.3, -29.4, -35]
        with sqlite3.connect(self.project) as db:
            db.execute("INSERT INTO Sur3 VALUES (7, '沉7', 3, '圆')")
            db.executemany("INSERT INTO Sur2 VALUES (?, 7, ?)",
                           [(k, round(37 + s / 1000, 5)) for k, s in enumerate(path)])
        got = {p["name"]: p for p in json.loads(self.batch("analyse", self.project, "--format", "json").stdout)["points"]}
        self.assertIsNone(got["沉7"]["hyperbolic"])
        reason = got["沉7"]["hyperbolic_reason"]
        self.assertEqual(reason, "预测值小于已发生沉降")
        self.assertIsNotNone(got["沉1"]["hyperbolic"])
        self.assertIsNone(got["沉1"]["hyperbolic_reason"])

        self.assertEqual(self.batch("table", self.project).returncode, 0)
        sheet = openpyxl.load_workbook(self.root / "楼.xlsx")["稳定性分析"]
        row = next(r for r in sheet.iter_rows(min_row=6, values_only=True) if r[1] == "沉7")
        self.assertEqual(row[7], "—")
        self.assertIn("双曲线法：" + reason, row[13])

        pdf = self.root / "报告.pdf"
        run = self.batch("report", self.project, "--out", pdf, "--date", "2020-07-01")
        self.assertEqual(run.returncode, 0, run.stderr.decode())
        text = subprocess.run(["pdftotext", "-layout", str(pdf), "-"], capture_output=True, text=True,
                              check=True).stdout
        self.assertIn(reason, text.replace(" ", ""))

    def test_an_odd_date_is_left_out_in_bounded_time_and_memory(self):
        import resource
        import time
        with sqlite3.connect(self.project) as db:
            last = db.execute("SELECT MAX(CjNo) FROM Sur1").fetchone()[0]
            db.execute("INSERT INTO Sur1 VALUES (?, '2147483647-01-01', '远', 9)", (last + 1,))
            db.executemany("INSERT INTO Sur2 VALUES (?, ?, 9.9)", [(last + 1, j) for j in range(1, 6)])

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        sheet, drawing = self.project.with_suffix(".xlsx"), self.project.with_suffix(".dxf")
        for args in (("analyse", self.project, "--format", "json", "--step", "1"),
                     ("table", self.project, "--out", sheet),
                     ("curves", self.project, "--kind", "settlement", "--out", drawing)):
            with self.subTest(command=args[0]):
                start = time.monotonic()
                run = subprocess.run([str(self.program / "sedimetra-batch"), *map(str, args)],
                                     capture_output=True, timeout=120, preexec_fn=limit)
                self.assertEqual(run.returncode, 0, run.stderr.decode())
                self.assertLess(time.monotonic() - start, 20)
                self.assertIn("“远”的日期“2147483647-01-01”不是 1900–2200 年间的年-月-日，不列入分析和曲线图（成果表照列）",
                              run.stderr.decode())
                if args[0] == "analyse":
                    notes = json.loads(run.stdout)["notes"]
                    self.assertTrue(any("远" in n and "未列入分析" in n for n in notes), notes)
        # The results table lists every epoch, as the rule reads its date.
        book = openpyxl.load_workbook(sheet)
        texts = [str(c.value) for ws in book.worksheets for row in ws.iter_rows() for c in row if c.value]
        self.assertIn("2147483647-01-01", texts)
        self.assertIn("远", texts)

    def test_refusals(self):
        for args, code in ((("--limit", "0"), 2), (("--window", "-5"), 2), (("--step", "x"), 2),
                           (("--format", "xml"), 2), (("--colour", "red"), 2)):
            with self.subTest(args=args):
                run = self.batch("analyse", self.project, *args)
                self.assertEqual(run.returncode, code)
                self.assertEqual(run.stdout, b"")
        run = self.batch("analyse", self.root / "无.mdb")
        self.assertEqual(run.returncode, 1)
        self.assertIn("cannot open the project", run.stderr.decode())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
