#!/usr/bin/python3
"""Where the points stand, end to end: positions set by sedimetra-batch
coords from a CSV file and from a plan drawing written by ezdxf (blocks
nested, rotated and scaled, labelled circles, a name shown twice); the
figures of `plan --format json` checked against numpy's least squares and
scipy's Delaunay triangulation; alarms, the predicted date of stability
and the workbook's sheet 差异沉降与倾斜; a project without positions left
as it was.

usage: tst_plan.py BIN_DIR SOURCE_DIR
"""
import datetime
import json
import math
import os
import pathlib
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

import ezdxf
import numpy as np
import openpyxl
from scipy.spatial import Delaunay

BIN = pathlib.Path(sys.argv[1])
SOURCE = pathlib.Path(sys.argv[2])

START = datetime.date(2021, 4, 1)
DAYS = [0, 30, 60, 90, 120, 150, 200]
# Positions that are not co-circular (a perturbed grid), metres.
RNG = np.random.default_rng(7)
GRID = [(x * 7.5 + RNG.uniform(-1.5, 1.5), y * 6.0 + RNG.uniform(-1.2, 1.2))
        for y in range(3) for x in range(4)]
NAMES = [f"J{i + 1}" for i in range(len(GRID))]


def settlement(j, t):
    """mm at day t: a tilting plane with a bump, and point J1 sinking along a
    hyperbola that is still faster than 0.04 mm/d at the end."""
    x, y = GRID[j]
    if j == 0:
        return -t / (0.01 * t + 20)
    return -(0.02 * x + 0.05 * y + 0.5) * t / 30 - (3.0 if j == 5 else 0.0) * t / 200


def make_program(root):
    program = root / "program"
    program.mkdir()
    shutil.copy(BIN / "sedimetra-batch", program)
    shutil.copytree(BIN / "Support", program / "Support")
    with sqlite3.connect(program / "Sdmx.mdb") as db:
        db.executescript((SOURCE / "Support/Db/sdmx.sql").read_text(encoding="utf-8"))
    return program


def make_project(path, points=len(GRID)):
    shutil.copy(BIN / "Support/Db/数据库模板.mdb", path)
    with sqlite3.connect(path) as db:
        for k, day in enumerate(DAYS):
            db.execute("INSERT INTO Sur1 VALUES (?, ?, ?, ?)",
                       (k, (START + datetime.timedelta(days=day)).isoformat(), f"第{k + 1}次", "5"))
        for j in range(points):
            db.execute("INSERT INTO Sur3 VALUES (?, ?, ?, ?)", (j + 1, NAMES[j], 1, "圆形"))
            for k, day in enumerate(DAYS):
                db.execute("INSERT INTO Sur2 VALUES (?, ?, ?)",
                           (k, j + 1, round(20 + settlement(j, day) / 1000, 5)))


class Plan(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = pathlib.Path(cls.tmp.name)
        cls.program = make_program(cls.root)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def batch(self, *args):
        return subprocess.run([str(self.program / "sedimetra-batch"), *map(str, args)],
                              capture_output=True, text=True, timeout=120)

    def placed_project(self, name):
        project = self.root / f"{name}.mdb"
        make_project(project)
        csv = self.root / f"{name}.csv"
        csv.write_text("点名,东坐标,北坐标\n" + "".join(f"{n},{x!r},{y!r}\n" for n, (x, y) in zip(NAMES, GRID)),
                       encoding="utf-8")
        run = self.batch("coords", project, csv)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("按东、北坐标读入", run.stdout)
        return project

    def test_a_plan_in_millimetres_or_centimetres_places_in_metres(self):
        # The same plan drawn in millimetres, in centimetres, and in
        # millimetres without a unit in its header: positions in metres,
        # and the figures of the project placed from a table in metres.
        reference = self.plan(self.placed_project("米楼"))["tilt"]
        for units, per_metre, says in ((4, 1000, "图形单位：毫米"), (5, 100, "图形单位：厘米"),
                                       (0, 1000, "没有注明单位，按毫米读取")):
            with self.subTest(units=units):
                doc = ezdxf.new("R2010")
                doc.header["$INSUNITS"] = units
                msp = doc.modelspace()
                for n, (x, y) in zip(NAMES, GRID):
                    msp.add_circle((x * per_metre, y * per_metre), 0.25 * per_metre)
                    msp.add_text(n, dxfattribs={"height": 0.3 * per_metre}).set_placement(
                        ((x + 0.3) * per_metre, (y + 0.3) * per_metre))
                msp.add_lwpolyline([(-2 * per_metre, -2 * per_metre), (25 * per_metre, -2 * per_metre)])
                drawing = self.root / f"平面{units}.dxf"
                doc.saveas(drawing)
                project = self.root / f"单位{units}.mdb"
                make_project(project)
                run = self.batch("coords", project, drawing)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertIn(says, run.stdout + run.stderr)
                with sqlite3.connect(project) as db:
                    got = {n: (x, y) for n, x, y in db.execute("SELECT PointName, X, Y FROM Sur3")}
                for n, (x, y) in zip(NAMES, GRID):
                    self.assertAlmostEqual(got[n][0], x, places=6)
                    self.assertAlmostEqual(got[n][1], y, places=6)
                tilt = self.plan(project)["tilt"]
                self.assertAlmostEqual(tilt["value"], reference["value"], places=12)
                self.assertAlmostEqual(tilt["azimuth_deg"], reference["azimuth_deg"], places=9)
        # A drawing without a unit, read as the user says.
        project = self.root / "单位指定.mdb"
        make_project(project)
        run = self.batch("coords", project, self.root / "平面0.dxf", "--unit", "m")
        self.assertEqual(run.returncode, 0, run.stderr)
        with sqlite3.connect(project) as db:
            x = db.execute("SELECT X FROM Sur3 WHERE PointName = 'J1'").fetchone()[0]
        self.assertAlmostEqual(x, GRID[0][0] * 1000, places=6)

    def test_survey_coordinates_and_a_cass_file_give_the_same_place(self):
        # The same points as a total station writes them ("点号,X,Y": X
        # north), without headings, and as CASS keeps them (name, code,
        # east, north, height): the same east and north are stored.
        east = {n: 500000 + x for n, (x, y) in zip(NAMES, GRID)}
        north = {n: 3400000 + y for n, (x, y) in zip(NAMES, GRID)}
        stored = []
        for name, text in (("测站.csv", "".join(f"{n},{north[n]!r},{east[n]!r}\n" for n in NAMES)),
                           ("测站.dat", "".join(f"{n},,{east[n]!r},{north[n]!r},12.5\n" for n in NAMES))):
            project = self.root / f"{name}.mdb"
            make_project(project)
            source = self.root / name
            source.write_text(text, encoding="utf-8")
            run = self.batch("coords", project, source)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertIn("设置了 12 个测点的坐标", run.stdout)
            with sqlite3.connect(project) as db:
                stored.append({n: (x, y) for n, x, y in db.execute("SELECT PointName, X, Y FROM Sur3")})
        self.assertEqual(stored[0], stored[1])
        for n in NAMES:
            self.assertAlmostEqual(stored[0][n][0], east[n], places=6)
            self.assertAlmostEqual(stored[0][n][1], north[n], places=6)

    def test_a_plane_sinking_to_the_north_east_tilts_at_45_degrees(self):
        # Settlement growing by 1 mm a metre toward the north-east, the
        # points given as survey coordinates: the direction is a bearing
        # from north, 45°, 东北.
        project = self.root / "东北楼.mdb"
        make_project(project)
        with sqlite3.connect(project) as db:
            last = db.execute("SELECT MAX(CjNo) FROM Sur1").fetchone()[0]
            for j, (x, y) in enumerate(GRID, start=1):
                first = db.execute("SELECT PointH FROM Sur2 WHERE CjNo = 0 AND CjdNo = ?", (j,)).fetchone()[0]
                db.execute("UPDATE Sur2 SET PointH = ? WHERE CjNo = ? AND CjdNo = ?",
                           (first - 0.0001 * (x + y), last, j))
        csv = self.root / "东北楼.csv"
        csv.write_text("点号,X,Y\n" + "".join(f"{n},{3400000 + y!r},{500000 + x!r}\n" for n, (x, y) in zip(NAMES, GRID)),
                       encoding="utf-8")
        self.assertEqual(self.batch("coords", project, csv).returncode, 0)
        got = self.plan(project)
        self.assertAlmostEqual(got["tilt"]["azimuth_deg"], 45, delta=1e-6)
        self.assertEqual(got["tilt"]["compass"], "东北")

    def plan(self, project, *args):
        run = self.batch("plan", project, *args, "--format", "json")
        self.assertEqual(run.returncode, 0, run.stderr)
        return json.loads(run.stdout)

    def test_figures_agree_with_numpy_and_scipy(self):
        project = self.placed_project("甲楼")
        k = len(DAYS) - 1
        plan = self.plan(project, "--epoch", k)
        self.assertEqual(plan["epoch"], k)
        xy = np.array(GRID)
        h0 = np.array([round(20 + settlement(j, 0) / 1000, 5) for j in range(len(GRID))])
        hk = np.array([round(20 + settlement(j, DAYS[k]) / 1000, 5) for j in range(len(GRID))])
        s = (hk - h0) * 1000
        got = {p["name"]: p for p in plan["points"]}
        for j, name in enumerate(NAMES):
            self.assertAlmostEqual(got[name]["s_mm"], s[j], places=6)
            self.assertAlmostEqual(got[name]["x"], GRID[j][0], places=9)
        # The plane s = a + b·x + c·y by least squares.
        A = np.column_stack([np.ones(len(s)), xy])
        (a, b, c), *_ = np.linalg.lstsq(A, s, rcond=None)
        rms = math.sqrt(np.mean((A @ [a, b, c] - s) ** 2))
        self.assertAlmostEqual(plan["tilt"]["value"], math.hypot(b, c) / 1000, places=12)
        self.assertAlmostEqual(plan["tilt"]["direction_deg"],
                               math.degrees(math.atan2(-c, -b)) % 360, places=6)
        # Clockwise from north (x east, y north), with its compass word.
        azimuth = math.degrees(math.atan2(-b, -c)) % 360
        self.assertAlmostEqual(plan["tilt"]["azimuth_deg"], azimuth, places=6)
        words = ["北", "东北", "东", "东南", "南", "西南", "西", "西北"]
        self.assertEqual(plan["tilt"]["compass"], words[int((azimuth + 22.5) // 45) % 8])
        self.assertAlmostEqual(plan["tilt"]["rms_mm"], rms, places=6)
        # Neighbours: the edges of scipy's Delaunay triangulation.
        tri = Delaunay(xy)
        edges = set()
        for simplex in tri.simplices:
            for i in range(3):
                u, v = sorted((NAMES[simplex[i]], NAMES[simplex[(i + 1) % 3]]))
                edges.add((u, v))
        pairs = {tuple(sorted((p["from"], p["to"]))): p for p in plan["pairs"]}
        self.assertEqual(set(pairs), edges)
        for (u, v), p in pairs.items():
            i, j = NAMES.index(u), NAMES.index(v)
            length = math.dist(GRID[i], GRID[j])
            self.assertAlmostEqual(p["length_m"], length, places=9)
            self.assertAlmostEqual(abs(p["ds_mm"]), abs(s[j] - s[i]), places=6)
            self.assertAlmostEqual(p["ratio"], abs(s[j] - s[i]) / 1000 / length, places=12)
        # Every contour vertex lies on a Delaunay edge, where the settlement
        # interpolated along it is the level.
        self.assertTrue(5 <= len(plan["contours"]) <= 15)
        on_edge = 0
        for contour in plan["contours"]:
            for polyline in contour["polylines"]:
                for x, y in polyline:
                    found = False
                    for u, v in edges:
                        i, j = NAMES.index(u), NAMES.index(v)
                        p, q = np.array(GRID[i]), np.array(GRID[j])
                        t = np.dot([x, y] - p, q - p) / np.dot(q - p, q - p)
                        if -1e-9 <= t <= 1 + 1e-9 and np.linalg.norm(p + t * (q - p) - [x, y]) < 1e-7:
                            if abs(s[i] + t * (s[j] - s[i]) - contour["level_mm"]) < 1e-6:
                                found = True
                                break
                    self.assertTrue(found, (contour["level_mm"], x, y))
                    on_edge += 1
        self.assertGreater(on_edge, 10)

    def test_header_fields_as_typed_choose_their_limits_or_say_why_not(self):
        project = self.placed_project("丁楼")
        cases = (({"建筑高度": "30米", "结构形式": "框剪结构", "地基土": "中等压缩性土"},
                  {"tilt_permille": 3.0, "differential_permille": 2.0, "tilt_reason": None,
                   "differential_reason": None}),
                 ({"建筑高度": "24 m", "结构形式": "钢结构", "地基土": "低压缩性土"},
                  {"tilt_permille": 4.0, "differential_permille": None, "tilt_reason": None,
                   "differential_reason": "结构形式「钢结构」在变形限值表中无差异沉降限值，未判差异沉降"}))
        for fields, limits in cases:
            with self.subTest(fields=fields):
                for key, value in fields.items():
                    run = self.batch("header", project, f"{key}={value}")
                    self.assertEqual(run.returncode, 0, run.stderr)
                run = self.batch("plan", project, "--format", "json")
                self.assertEqual(run.returncode, 0, run.stderr)
                got = json.loads(run.stdout)["limits"]
                self.assertEqual(set(got), set(limits))
                for key, value in limits.items():
                    if isinstance(value, float):
                        self.assertAlmostEqual(got[key], value, places=9)
                    else:
                        self.assertEqual(got[key], value)
                # Said on stderr of plan, table and report alike.
                reason = limits["differential_reason"]
                out = self.root / "丁楼.xlsx"
                for command in (["plan", project, "--format", "json"], ["table", project, "--out", out]):
                    told = self.batch(*command).stderr
                    self.assertEqual(reason in told if reason else "未判" in told, bool(reason), (command, told))

    def numbered_project(self, name):
        """Four points named 1 to 4, as a CASS survey names them, two epochs."""
        project = self.root / f"{name}.mdb"
        shutil.copy(BIN / "Support/Db/数据库模板.mdb", project)
        with sqlite3.connect(project) as db:
            for k in range(2):
                db.execute("INSERT INTO Sur1 VALUES (?, ?, ?, ?)", (k, f"2024-0{k + 1}-01", f"第{k + 1}次", "3"))
            for j in range(1, 5):
                db.execute("INSERT INTO Sur3 VALUES (?, ?, ?, ?)", (j, str(j), 1, "圆形"))
                for k in range(2):
                    db.execute("INSERT INTO Sur2 VALUES (?, ?, ?)", (k, j, 136 - 0.001 * k * j))
        return project

    def positions(self, project):
        with sqlite3.connect(project) as db:
            if "X" not in [r[1] for r in db.execute("PRAGMA table_info(Sur3)")]:
                return {}  # never placed
            return {n: (x, y) for n, x, y in db.execute("SELECT PointName, X, Y FROM Sur3")}

    def test_columns_are_decided_by_their_numbers_on_a_national_grid(self):
        # The survey as CASS exports it without headings (点号,E,N,H), and
        # the same under headings X, Y that say the opposite: east is the
        # 6-digit column either way, said and followed.
        fixtures = SOURCE / "tests/fixtures/positions"
        expected = {"1": (472023.502, 3831702.467), "2": (472074.116, 3831708.915),
                    "3": (472071.208, 3831731.087), "4": (472020.594, 3831724.640)}
        for fixture, contradicted in (("cass_headerless.csv", False), ("xy_contradicting.csv", True)):
            with self.subTest(fixture):
                project = self.numbered_project(fixture.split(".")[0])
                run = self.batch("coords", project, fixtures / fixture)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertIn("第 2 列为东坐标、第 3 列为北坐标", run.stdout)
                self.assertIn("第 2 列为6 位数，第 3 列为7 位数", run.stdout.replace(" 6 位数", "6 位数")
                              .replace(" 7 位数", "7 位数"))
                self.assertEqual("与数字不符" in run.stderr, contradicted, run.stderr)
                for name, (east, north) in self.positions(project).items():
                    self.assertAlmostEqual(east, expected[name][0], places=6)
                    self.assertAlmostEqual(north, expected[name][1], places=6)
                # The building lies 51 m east-west: the tilt points as the
                # settlement does, not mirrored.
                plan = self.plan(project)
                xs = [p["x"] for p in plan["points"]]
                self.assertGreater(max(xs) - min(xs), 50)
        # A local site grid: neither headings nor numbers decide it; read in
        # survey order and said on stderr, with the way to swap.
        project = self.numbered_project("施工坐标")
        run = self.batch("coords", project, fixtures / "local_grid.csv")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("不能判定东、北", run.stderr)
        self.assertIn("--axes en", run.stderr)
        self.assertEqual(self.positions(project)["2"], (2051.0, 1000.0))
        run = self.batch("coords", project, fixtures / "local_grid.csv", "--axes", "en")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(self.positions(project)["2"], (1000.0, 2051.0))
        self.assertIn("ne|en", self.batch("coords", "--help").stdout + self.batch("coords", "--help").stderr)

    def test_a_point_in_another_coordinate_system_is_named_and_left_out(self):
        # J3's position from another file, in another system 4,900 km away.
        project = self.placed_project("混楼")
        with sqlite3.connect(project) as db:
            db.execute("UPDATE Sur3 SET X = X + 3400000, Y = Y + 3400000 WHERE PointName = 'J3'")
        csv = self.root / "混楼二.csv"
        csv.write_text("点名,东坐标,北坐标\nJ1,0,0\n", encoding="utf-8")
        run = self.batch("coords", project, csv)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("J3 与其他测点相距 4808 km，坐标系可能不同", run.stderr)
        run = self.batch("plan", project, "--format", "json")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("J3 与其他测点相距", run.stderr)
        plan = json.loads(run.stdout)
        self.assertNotIn("J3", [p["name"] for p in plan["points"]])
        self.assertFalse([p for p in plan["pairs"] if "J3" in (p["from"], p["to"])])

    def test_a_drawing_whose_unit_makes_no_building_is_refused(self):
        # A plan drawn in metres (51 x 22) whose header says inches: 1.3 m
        # wide as its header reads; refused with the figure, read with --unit.
        project = self.numbered_project("英寸图")
        drawing = SOURCE / "tests/fixtures/positions/plan_metres_insunits_inch.dxf"
        before = self.positions(project)
        run = self.batch("coords", project, drawing)
        self.assertEqual(run.returncode, 1, run.stdout)
        self.assertIn("宽 1.30 m", run.stderr)
        self.assertIn("--unit", run.stderr)
        self.assertEqual(self.positions(project), before)
        run = self.batch("coords", project, drawing, "--unit", "m")
        self.assertEqual(run.returncode, 0, run.stderr)
        got = self.positions(project)
        self.assertAlmostEqual(got["2"][0] - got["1"][0], 49.8, places=6)

    def test_alarms_and_the_predicted_date(self):
        project = self.placed_project("乙楼")
        with sqlite3.connect(project) as db:
            db.execute("CREATE TABLE IF NOT EXISTS HeaderFields (Name TEXT NOT NULL PRIMARY KEY, Value TEXT)")
            db.executemany("INSERT OR REPLACE INTO HeaderFields VALUES (?, ?)",
                           [("累计沉降预警值", "9.5"), ("沉降速率预警值", "0.12"),
                            ("差异沉降预警值", "0.0003"), ("建筑高度", "30")])
        analysis = json.loads(self.batch("analyse", project, "--format", "json").stdout)
        last = len(DAYS) - 1
        s_last = {j: round(20 + settlement(j, DAYS[last]) / 1000, 5) * 1000 - round(20 + settlement(j, 0) / 1000, 5) * 1000
                  for j in range(len(GRID))}
        cumulative = {(a["epoch"], a["point"]) for a in analysis["alarms"] if a["kind"] == "cumulative"}
        expected = set()
        for k, day in enumerate(DAYS):
            for j in range(len(GRID)):
                s = (round(20 + settlement(j, day) / 1000, 5) - round(20 + settlement(j, 0) / 1000, 5)) * 1000
                if abs(s) > 9.5:
                    expected.add((k, NAMES[j]))
        self.assertEqual(cumulative, expected)
        self.assertTrue(expected)
        # The tilt threshold is the code's row for a height of 30 m: 0.003.
        tilts = [a for a in analysis["alarms"] if a["kind"] == "tilt"]
        for epoch in analysis["deformation"]:
            over = epoch["tilt"] is not None and epoch["tilt"]["value"] > 0.003
            self.assertEqual(over, any(a["epoch"] == epoch["epoch"] for a in tilts))
        for a in analysis["alarms"]:
            if a["kind"] == "differential":
                self.assertGreater(a["value"], 0.0003)
                self.assertEqual(len(a["pair"]), 2)
        # J1 follows s = −τ / (0.01·τ + 20): its rate falls to 0.04 mm/d at
        # τ* = (√(20 / 0.04) − 20) / 0.01 days, still ahead, and its
        # predicted final settlement (100 mm) passes the threshold while
        # the observed one does not.
        j1 = next(p for p in analysis["points"] if p["name"] == "J1")
        tau = (math.sqrt(20 / 0.04) - 20) / 0.01
        expected_date = START + datetime.timedelta(days=round(tau))
        got = datetime.date.fromisoformat(j1["hyperbolic"]["stable_date"])
        self.assertLessEqual(abs((got - expected_date).days), 1)
        predicted = [a for a in analysis["alarms"] if a["kind"] == "predicted"]
        self.assertIn("J1", [a["point"] for a in predicted])
        self.assertLess(abs(s_last[0]), 9.5)
        # The workbook's sheet shows the same tilt as the JSON.
        book = self.root / "乙楼.xlsx"
        run = self.batch("table", project, "--out", book)
        self.assertEqual(run.returncode, 0, run.stderr)
        sheet = openpyxl.load_workbook(book)["差异沉降与倾斜"]
        rows = [r for r in sheet.iter_rows(min_row=6, values_only=True) if r[0]]
        self.assertEqual(len(rows), len(DAYS))
        self.assertAlmostEqual(rows[-1][6], analysis["deformation"][-1]["tilt"]["value"] * 1000, places=3)
        # Every alarm of an epoch is in its cell, wrapped, the row high
        # enough; the headings wrap too.
        told = 0
        for r in range(6, sheet.max_row + 1):
            cell = sheet.cell(r, 14)
            if cell.value and cell.value != "无":
                self.assertTrue(cell.alignment.wrap_text, cell.coordinate)
                self.assertEqual(cell.value.count("；") + 1,
                                 len([a for a in analysis["alarms"] if a["epoch"] == r - 6]), cell.coordinate)
                told += cell.value.count("；") + 1
        self.assertEqual(told, len(analysis["alarms"]))
        self.assertTrue(sheet["A5"].alignment.wrap_text)
        self.assertGreaterEqual(sheet.row_dimensions[5].height, 30)

    def test_a_plan_drawing_places_the_points(self):
        project = self.root / "丙楼.mdb"
        make_project(project)
        doc = ezdxf.new("R2010")
        msp = doc.modelspace()
        # A survey mark: a circle in a block, inside another block that is
        # scaled and rotated; its name beside it.
        mark = doc.blocks.new("MARK", base_point=(1, 1))
        mark.add_circle((1, 1), 0.2)
        outer = doc.blocks.new("MARKSET", base_point=(0, 0))
        outer.add_blockref("MARK", (2, 0), dxfattribs={"xscale": 2, "yscale": 2})
        placed = {}
        for j, (x, y) in enumerate(GRID):
            name = NAMES[j]
            if j % 3 == 0:
                # Mark at (x, y): outer rotated 90° at (x, y + 2) puts the
                # inner reference's base at (x, y + 2) + R90·(2, 0) = (x, y + 4)…
                # so place outer so that its mark lands on (x, y).
                msp.add_blockref("MARKSET", (x, y - 2), dxfattribs={"rotation": 90})
                msp.add_text(name.lower() + " ", dxfattribs={"height": 0.5}).set_placement((x + 0.3, y + 0.3))
                placed[name] = (x, y)
            elif j % 3 == 1:
                msp.add_circle((x, y), 0.25)
                msp.add_mtext("{\\fSimSun|b0;" + name + "}", dxfattribs={"char_height": 0.4, "insert": (x + 0.5, y)})
                placed[name] = (x, y)
            elif j != 11:
                # No circle near: the text's insertion point.
                msp.add_text(name, dxfattribs={"height": 0.3}).set_placement((x, y))
                placed[name] = (x, y)
        msp.add_text("J12", dxfattribs={"height": 0.3}).set_placement((0, 0))
        msp.add_text("j12", dxfattribs={"height": 0.3}).set_placement((5, 5))
        msp.add_lwpolyline([(0, 0), (30, 0), (30, 15), (0, 15)], close=True,
                           dxfattribs={"flags": 1}).set_points([(0, 0, 0, 0, 0.5), (30, 0), (30, 15), (0, 15)])
        msp.add_point((3, 3))
        drawing = self.root / "丙楼平面.dxf"
        doc.saveas(drawing)
        run = self.batch("coords", project, drawing)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("J12", run.stdout.split("出现两次的点名（未设置）：")[1].splitlines()[0])
        self.assertIn("1 个 POINT", run.stdout)
        with sqlite3.connect(project) as db:
            got = {n: (x, y) for n, x, y in db.execute("SELECT PointName, X, Y FROM Sur3")}
            stored = db.execute("SELECT Name, Data FROM PlanDrawing").fetchall()
        # Kept: the drawing's lines in metres, under the file's name.
        self.assertEqual([name for name, _ in stored], ["丙楼平面.dxf"])
        copy = self.root / "kept.dxf"
        copy.write_bytes(stored[0][1])
        kept = ezdxf.readfile(copy)
        self.assertEqual(kept.header["$INSUNITS"], 6)
        self.assertEqual([str(e.message) for e in kept.audit().errors], [])
        corners = [(round(x, 6), round(y, 6)) for e in kept.modelspace().query("LWPOLYLINE")
                   for x, y in e.get_points("xy")]
        for corner in ((30, 0), (30, 15), (0, 15)):
            self.assertIn(corner, corners)
        self.assertIn("图形单位：米", run.stdout)
        self.assertEqual(got["J12"], (None, None))
        for name, (x, y) in placed.items():
            self.assertAlmostEqual(got[name][0], x, places=6, msg=name)
            self.assertAlmostEqual(got[name][1], y, places=6, msg=name)

    def test_a_frames_turned_text_stays_turned(self):
        # A frame written by ezdxf with a text turned 90° (group 50): the
        # plan sheet drawn in it keeps the turn.
        project = self.placed_project("转楼")
        frame = self.program / "Support/TK/A3/平面图框.dxf"
        kept = frame.read_bytes()
        try:
            doc = ezdxf.new("R2000")
            doc.modelspace().add_lwpolyline([(0, 0), (420, 0), (420, 297), (0, 297)], close=True)
            doc.modelspace().add_text("装订线", dxfattribs={"height": 5, "rotation": 90, "insert": (10, 100)})
            doc.saveas(frame)
            sheet = self.root / "转楼.dxf"
            run = self.batch("curves", project, "--kind", "plan", "--frame", "A3", "--out", sheet)
            self.assertEqual(run.returncode, 0, run.stderr)
            texts = [e for e in ezdxf.readfile(sheet).modelspace().query("TEXT") if e.dxf.text == "装订线"]
            self.assertEqual(len(texts), 1)
            self.assertAlmostEqual(texts[0].dxf.rotation, 90, places=9)
        finally:
            frame.write_bytes(kept)

    def test_the_plan_sheet_opens_clean(self):
        project = self.placed_project("戊楼")
        doc = ezdxf.new("R2000")
        doc.modelspace().add_lwpolyline([(-2, -2), (25, -2), (25, 14), (-2, 14)], close=True)
        doc.modelspace().add_arc((11, 14), 4, 0, 180)
        drawing = self.root / "戊楼平面.dxf"
        doc.saveas(drawing)
        self.assertEqual(self.batch("coords", project, drawing).returncode, 0)
        sheet = self.root / "戊楼.dxf"
        run = self.batch("curves", project, "--kind", "plan", "--out", sheet)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("1:100", run.stdout)
        read = ezdxf.readfile(sheet)
        auditor = read.audit()
        self.assertEqual([str(e.message) for e in auditor.errors], [])
        layers = {e.dxf.layer for e in read.modelspace()}
        self.assertTrue({"平面图", "等值线", "沉_J1", "沉_J12"} <= layers, layers)
        # The points land at 1:100 (10 mm a metre) relative to each other.
        marks = {}
        for e in read.modelspace().query("INSERT"):
            if e.dxf.layer.startswith("沉_"):
                marks[e.dxf.layer[2:]] = (e.dxf.insert.x, e.dxf.insert.y)
        for name in ("J2", "J7", "J12"):
            j = NAMES.index(name)
            self.assertAlmostEqual(marks[name][0] - marks["J1"][0], (GRID[j][0] - GRID[0][0]) * 10, places=6)
            self.assertAlmostEqual(marks[name][1] - marks["J1"][1], (GRID[j][1] - GRID[0][1]) * 10, places=6)
        # North is marked, and the tilt is given as an azimuth with its word.
        texts = [e.dxf.text for e in read.modelspace().query("TEXT")]
        self.assertIn("北", texts)
        self.assertTrue(any(re.search(r"倾向方位角 [\d.]+°（[东南西北]+）", t) for t in texts), texts)
        pdf = self.root / "戊楼.pdf"
        printed = subprocess.run(["librecad", "dxf2pdf", "-o", str(pdf), str(sheet)], capture_output=True,
                                 text=True, timeout=120, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        self.assertEqual(printed.returncode, 0, printed.stderr)
        self.assertTrue(pdf.read_bytes().startswith(b"%PDF"))

    def test_a_contour_step_too_fine_or_too_coarse_is_told(self):
        # A step that would ask for more levels than memory holds draws none
        # and says so, in bounded time; one with no level in the range says
        # that; the same stored as the project's step reaches the report.
        import resource
        import time
        project = self.placed_project("丁楼")

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        for step, said in (("1e-320", "太小"), ("0.0001", "太小"), ("1e6", "没有等值线")):
            with self.subTest(step=step):
                start = time.monotonic()
                run = subprocess.run([str(self.program / "sedimetra-batch"), "plan", str(project), "--step", step,
                                      "--format", "json"], capture_output=True, text=True, timeout=60,
                                     preexec_fn=limit)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertLess(time.monotonic() - start, 10)
                self.assertIn(said, run.stderr)
                self.assertEqual(json.loads(run.stdout)["contours"], [])
        with sqlite3.connect(project) as db:
            db.execute("CREATE TABLE IF NOT EXISTS HeaderFields (Name TEXT NOT NULL PRIMARY KEY, Value TEXT)")
            db.execute("INSERT OR REPLACE INTO HeaderFields VALUES ('等值线间距', '1e-320')")
        pdf = self.root / "丁楼.pdf"
        run = subprocess.run([str(self.program / "sedimetra-batch"), "report", str(project), "--out", str(pdf)],
                             capture_output=True, text=True, timeout=60, preexec_fn=limit)
        self.assertEqual(run.returncode, 0, run.stderr)

    def test_a_project_without_positions_is_left_as_it_was(self):
        project = self.root / "丁楼.mdb"
        make_project(project)
        run = self.batch("plan", project, "--format", "json")
        self.assertEqual(run.returncode, 1)
        self.assertIn("不足 3 个", run.stderr)
        book = self.root / "丁楼.xlsx"
        self.assertEqual(self.batch("table", project, "--out", book).returncode, 0)
        self.assertNotIn("差异沉降与倾斜", openpyxl.load_workbook(book).sheetnames)
        with sqlite3.connect(project) as db:
            columns = [r[1] for r in db.execute("PRAGMA table_info(Sur3)")]
        self.assertNotIn("X", columns)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
