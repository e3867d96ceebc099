#!/usr/bin/python3
"""The digital level's raw files through sedimetra-batch level: generated
GSI-8, GSI-16 and DiNi M5 files of one loop (clean, a blunder in one
reading, a blunder in both readings of one sight) and of a loop with a tie
line; station values, misclosure, verdicts and heights checked against a
computation written here (plain least squares).

usage: tst_level.py BIN_DIR
"""
import json
import math
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import level_files  # noqa: E402

BIN = pathlib.Path(sys.argv[1])
FIXTURES = pathlib.Path(__file__).parent / "fixtures" / "level"
TRUE = {"BM1": 10.0, "1": 10.3, "J1": 10.25, "2": 9.95, "J2": 9.8, "3": 10.1, "J3": 10.12,
        "4": 10.05, "BM2": 10.2, "5": 10.0}
LOOP = ["BM1", "1", "J1", "2", "J2", "3", "J3", "4", "BM1"]
# Small reading errors, so that the loop has a misclosure to distribute.
NOISE = {0: 0.0002, 2: -0.0001, 3: 0.00015, 5: 0.0001, 6: -0.00005}


def solve(matrix, vector):
    n = len(vector)
    a = [row[:] + [vector[i]] for i, row in enumerate(matrix)]
    for c in range(n):
        pivot = max(range(c, n), key=lambda r: abs(a[r][c]))
        a[c], a[pivot] = a[pivot], a[c]
        for r in range(n):
            if r != c:
                f = a[r][c] / a[c][c]
                a[r] = [x - f * y for x, y in zip(a[r], a[c])]
    return [a[i][n] / a[i][i] for i in range(n)]


def expected(station_lists, fixed, by_distance=False):
    """Stations, sections between named points, least-squares heights."""
    nodes = lambda p: not (p.isdigit() or p.lower().startswith("tp")) or p in fixed
    sections = []
    for stations in station_lists:
        start, dh, n, length = stations[0][0], 0.0, 0, 0.0
        for s in stations:
            dh += ((s[2] - s[3]) + (s[4] - s[5])) / 2
            n += 1
            length += s[6] + s[7]
            if nodes(s[1]):
                sections.append((start, s[1], dh, n, length))
                start, dh, n, length = s[1], 0.0, 0, 0.0
    unknown = sorted({p for sec in sections for p in sec[:2] if p not in fixed})
    index = {p: i for i, p in enumerate(unknown)}
    u = len(unknown)
    normal = [[0.0] * u for _ in range(u)]
    right = [0.0] * u
    for a, b, dh, n, length in sections:
        weight = 1 / (length / 1000) if by_distance else 1 / n
        row = [0.0] * u
        constant = dh
        if b in index:
            row[index[b]] += 1
        else:
            constant -= fixed[b]
        if a in index:
            row[index[a]] -= 1
        else:
            constant += fixed[a]
        for i in range(u):
            right[i] += weight * row[i] * constant
            for j in range(u):
                normal[i][j] += weight * row[i] * row[j]
    x = solve(normal, right) if u else []
    heights = dict(fixed)
    heights.update({p: x[index[p]] for p in unknown})
    return sections, heights


class Levelling(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.tmp.name)

    def tearDown(self):
        self.tmp.cleanup()

    def files(self, stations, name="loop"):
        paths = {}
        for kind, text in (("gsi8", level_files.gsi(stations)),
                           ("gsi16", level_files.gsi(stations, wide=True)),
                           ("dini", level_files.dini(stations))):
            path = self.root / f"{name}.{kind}"
            path.write_text(text, encoding="latin-1")
            paths[kind] = path
        return paths

    def level(self, *args):
        run = subprocess.run([str(BIN / "sedimetra-batch"), "level", *map(str, args),
                              "--format", "json"], capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        return json.loads(run.stdout)

    def test_clean_loop_in_every_format(self):
        stations = level_files.loop_stations(LOOP, TRUE, NOISE)
        sections, heights = expected([stations], {"BM1": 10.0})
        misclosure = sum(sec[2] for sec in sections) * 1000
        for kind, path in self.files(stations).items():
            with self.subTest(format=kind):
                got = self.level(path, "--fixed", "BM1=10")
                self.assertEqual(len(got["stations"]), len(stations))
                for s, want in zip(got["stations"], stations):
                    self.assertEqual((s["back"], s["fore"]), (want[0], want[1]))
                    self.assertAlmostEqual(s["dh_m"], ((want[2] - want[3]) + (want[4] - want[5])) / 2, places=9)
                    self.assertAlmostEqual(s["station_diff_mm"], ((want[2] - want[3]) - (want[4] - want[5])) * 1000, places=6)
                    self.assertEqual(s["violations"], [])
                line = got["lines"][0]
                self.assertAlmostEqual(line["misclosure_mm"], misclosure, places=6)
                # The reading errors, and half the 0.01 mm the second readings add each station.
                self.assertAlmostEqual(line["misclosure_mm"],
                                       -sum(NOISE.values()) * 1000 + 0.005 * len(stations), places=6)
                self.assertTrue(line["within"])
                for point, h in heights.items():
                    self.assertAlmostEqual(got["heights"][point], h, places=9, msg=point)
                self.assertEqual(got["dof"], 1)
                self.assertEqual(len(got["loops"]), 1)
                self.assertAlmostEqual(got["loops"][0]["misclosure_mm"], misclosure, places=6)
                self.assertEqual(got["loops"][0]["stations"], len(stations))
                # A single loop: each section takes −f·n_i/N.
                total = sum(sec[3] for sec in sections)
                carried = 10.0
                for a, b, dh, n, _ in sections:
                    carried += dh - misclosure / 1000 * n / total
                    if b != "BM1":
                        self.assertAlmostEqual(got["heights"][b], carried, places=9)

    def test_blunder_in_one_reading_fails_the_station_check(self):
        stations = level_files.loop_stations(LOOP, TRUE, NOISE)
        stations[4][5] += 0.002  # F2 of station 5 only
        for kind, path in self.files(stations).items():
            with self.subTest(format=kind):
                got = self.level(path, "--fixed", "BM1=10")
                flagged = [s["no"] for s in got["stations"] if s["violations"]]
                self.assertEqual(flagged, [5])
                self.assertIn("两次读数所测高差之差", got["stations"][4]["violations"][0])

    def test_blunder_in_both_readings_shows_only_in_the_misclosure(self):
        errors = dict(NOISE)
        errors[4] = 0.003  # both fore readings of station 5
        stations = level_files.loop_stations(LOOP, TRUE, errors)
        for kind, path in self.files(stations).items():
            with self.subTest(format=kind):
                got = self.level(path, "--fixed", "BM1=10", "--grade", "GB/T 50308-2017")
                self.assertEqual([s["no"] for s in got["stations"] if s["violations"]], [])
                line = got["lines"][0]
                self.assertFalse(line["within"])
                self.assertAlmostEqual(line["tolerance_mm"], 0.3 * math.sqrt(8), places=9)

    def test_loop_and_tie_line_by_least_squares(self):
        loop = level_files.loop_stations(LOOP, TRUE, NOISE)
        tie = level_files.loop_stations(["BM2", "5", "J2"], TRUE, {1: 0.0003})
        fixed = {"BM1": 10.0, "BM2": 10.2}
        for by_distance in (False, True):
            with self.subTest(by_distance=by_distance):
                _, heights = expected([loop, tie], fixed, by_distance)
                paths = [self.files(loop, "loop")["gsi16"], self.files(tie, "tie")["dini"]]
                got = self.level(*paths, "--fixed", "BM1=10", "--fixed", "BM2=10.2",
                                 "--distribute", "distance" if by_distance else "stations")
                for point, h in heights.items():
                    self.assertAlmostEqual(got["heights"][point], h, places=9, msg=point)
                self.assertEqual(got["dof"], 2)
                self.assertIsNotNone(got["sigma0_mm"])
                # One independent loop or line between fixed points per
                # redundant section, each against its own tolerance.
                self.assertEqual(len(got["loops"]), 2)
                for cycle in got["loops"]:
                    self.assertAlmostEqual(cycle["tolerance_mm"], 4 * math.sqrt(cycle["length_m"] / 1000), places=9)
                    self.assertEqual(cycle["within"], abs(cycle["misclosure_mm"]) <= cycle["tolerance_mm"])
                # Every section's correction over its standard deviation.
                self.assertTrue(all(s["standardised"] is not None for s in got["sections"]))
                tie_line = got["lines"][1]
                self.assertEqual((tie_line["from"], tie_line["to"]), ("BM2", "J2"))
                self.assertIsNone(tie_line["misclosure_mm"])  # J2 is not fixed

    def test_heights_into_an_epoch(self):
        import shutil
        import sqlite3
        stations = level_files.loop_stations(LOOP, TRUE, NOISE)
        project = self.root / "楼.mdb"
        shutil.copy(BIN / "Support/Db/数据库模板.mdb", project)
        with sqlite3.connect(project) as db:
            db.execute("INSERT INTO Sur1 VALUES (0, '2020-01-01', 'A', 1)")
            # Matched without case; J3's id is padded with zeros on the level.
            for number, name in ((1, "j1"), (2, "J2"), (3, "J3"), (4, "J9")):
                db.execute("INSERT INTO Sur3 VALUES (?, ?, 1, 'A')", (number, name))
        got = self.level(self.files(stations)["gsi8"], "--fixed", "BM1=10")
        run = subprocess.run([str(BIN / "sedimetra-batch"), "level",
                              str(self.files(stations)["gsi8"]), "--fixed", "BM1=10",
                              "--into", str(project), "--epoch", "0"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("调入 3 个高程", run.stdout)
        with sqlite3.connect(project) as db:
            stored = dict(db.execute("SELECT CjdNo, PointH FROM Sur2 WHERE CjNo = 0"))
        self.assertEqual(sorted(stored), [1, 2, 3])
        for number, point in ((1, "J1"), (2, "J2"), (3, "J3")):
            self.assertAlmostEqual(stored[number], got["heights"][point], places=9)
        # The report beside the project, read by openpyxl.
        import openpyxl
        book = openpyxl.load_workbook(self.root / "楼-A-水准.xlsx")
        self.assertEqual(book.sheetnames, ["测站检核", "平差结果"])
        self.assertIn("工程：楼", book["测站检核"]["A1"].value)
        # It prints: landscape, one page wide, the headings on every page,
        # the project named at the top.
        for name in ("测站检核", "平差结果"):
            self.assertEqual(book[name].page_setup.orientation, "landscape")
            self.assertEqual(book[name].page_setup.fitToWidth, 1)
            self.assertIn("楼", book[name].oddHeader.center.text)
        self.assertEqual(book["测站检核"].print_title_rows, "$1:$2")
        rows = list(book["测站检核"].iter_rows(min_row=3, values_only=True))
        self.assertEqual(len(rows), len(stations))
        self.assertAlmostEqual(rows[0][5], round(got["stations"][0]["dh_m"], 5), places=9)
        # Each station's readings as the level took them: B1, F1, B2, F2.
        self.assertEqual(rows[0][9:13], tuple(stations[0][2:6]))
        results = {r[0]: r[1] for r in book["平差结果"].iter_rows(values_only=True) if r[0]}
        self.assertAlmostEqual(results["J2"], round(got["heights"]["J2"], 5), places=9)

    def test_heights_into_a_new_epoch_made_with_them(self):
        # The epoch is made where its date puts it, in the transaction that
        # writes the heights; a failure leaves neither.
        import shutil
        import sqlite3
        stations = level_files.loop_stations(LOOP, TRUE, NOISE)
        gsi = self.files(stations)["gsi8"]
        project = self.root / "新楼.mdb"
        shutil.copy(BIN / "Support/Db/数据库模板.mdb", project)
        with sqlite3.connect(project) as db:
            db.executemany("INSERT INTO Sur1 VALUES (?, ?, ?, ?)", [(0, "2020-01-01", "A", 1), (1, "2020-03-01", "C", 3)])
            db.executemany("INSERT INTO Sur2 VALUES (?, ?, ?)", [(1, 1, 9.9)])
            for number, name in ((1, "J1"), (2, "J2"), (3, "J3")):
                db.execute("INSERT INTO Sur3 VALUES (?, ?, 1, 'A')", (number, name))
        got = self.level(gsi, "--fixed", "BM1=10")

        def into(*extra):
            return subprocess.run([str(BIN / "sedimetra-batch"), "level", str(gsi), "--fixed", "BM1=10",
                                   "--into", str(project), "--new-epoch", *extra],
                                  capture_output=True, text=True, timeout=60)

        run = into("--date", "2020-02-01", "--name", "B", "--layers", "2")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("按日期插入", run.stdout)
        with sqlite3.connect(project) as db:
            self.assertEqual(db.execute("SELECT CjNo, Name FROM Sur1 ORDER BY CjNo").fetchall(),
                             [(0, "A"), (1, "B"), (2, "C")])
            stored = dict(db.execute("SELECT CjdNo, PointH FROM Sur2 WHERE CjNo = 1"))
            self.assertEqual(db.execute("SELECT PointH FROM Sur2 WHERE CjNo = 2 AND CjdNo = 1").fetchone()[0], 9.9)
        for number, point in ((1, "J1"), (2, "J2"), (3, "J3")):
            self.assertAlmostEqual(stored[number], got["heights"][point], places=9)
        before = project.read_bytes()
        # A name already used, and a report that cannot be written: nothing changes.
        self.assertEqual(into("--date", "2020-04-01", "--name", "B", "--layers", "4").returncode, 1)
        blocked = self.root / "报告目录"
        blocked.mkdir()
        run = into("--date", "2020-04-01", "--name", "D", "--layers", "4", "--report", str(blocked))
        self.assertEqual(run.returncode, 1, run.stdout)
        self.assertEqual(project.read_bytes(), before)
        self.assertEqual(into("--date", "2020-02-30", "--name", "E", "--layers", "4").returncode, 2)

    def test_a_grade_of_the_users_own(self):
        import shutil
        program = self.root / "program"
        program.mkdir()
        shutil.copy(BIN / "sedimetra-batch", program)
        shutil.copytree(BIN / "Support", program / "Support")
        (program / "Support/水准等级.json").write_text(json.dumps([
            {"name": "本单位 I 级", "closure_k_mm": 0.05, "closure_by": "stations",
             "station_diff_max_mm": 0.005}]), encoding="utf-8")
        stations = level_files.loop_stations(LOOP, TRUE, NOISE)
        run = subprocess.run([str(program / "sedimetra-batch"), "level",
                              str(self.files(stations)["gsi8"]), "--fixed", "BM1=10",
                              "--grade", "本单位", "--format", "json"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        got = json.loads(run.stdout)
        self.assertAlmostEqual(got["lines"][0]["tolerance_mm"], 0.05 * math.sqrt(8), places=9)
        self.assertFalse(got["lines"][0]["within"])
        # 0.01 mm between the two readings is beyond 0.005 mm at every station.
        self.assertEqual(len([s for s in got["stations"] if s["violations"]]), len(stations))

    def test_refusals(self):
        broken = self.root / "broken.gsi"
        broken.write_text("110001+0000BM1 331.08+0012x456 \r\n", encoding="latin-1")
        run = subprocess.run([str(BIN / "sedimetra-batch"), "level", str(broken), "--fixed", "BM1=1"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 1)
        self.assertIn("第 1 行第 2 个字", run.stderr)
        # Not regular files: refused at once, never waited on or read forever.
        fifo = self.root / "pipe.gsi"
        os.mkfifo(fifo)
        for path in (fifo, pathlib.Path("/dev/zero"), self.root):
            with self.subTest(path=str(path)):
                run = subprocess.run([str(BIN / "sedimetra-batch"), "level", str(path)],
                                     capture_output=True, text=True, timeout=20)
                self.assertEqual(run.returncode, 1)
                self.assertRegex(run.stderr, "不是普通文件|是文件夹")
        project = self.project()
        run = subprocess.run([str(BIN / "sedimetra-batch"), "import", str(project), "--epoch", "0",
                              str(fifo)], capture_output=True, text=True, timeout=20)
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("不是普通文件", run.stderr)

    def test_real_layout_dini_as_the_level_summed_it(self):
        """Each line's station count and sum against the level's own KD2
        records, read here by their columns."""
        for name in ("dini_bf.dat", "dini_lines.dat", "dini_abffb.dat", "dini_station_repeated.dat"):
            with self.subTest(file=name):
                path = FIXTURES / name
                level_says = {}
                for record in path.read_text(encoding="latin-1").splitlines():
                    if record[17:20] == "KD2" and record[49:51] == "Sh":
                        level_says[int(record[38:48])] = (int(record[29:38]), float(record[52:66]))
                got = self.level(path)
                self.assertEqual(got["warnings"], [])
                self.assertEqual(sorted(line["number"] for line in got["lines"]), sorted(level_says))
                for index, line in enumerate(got["lines"]):
                    count, sum_dh = level_says[line["number"]]
                    mine = [s["dh_m"] for s in got["stations"] if s["line"] == index]
                    self.assertEqual(len(mine), count)
                    self.assertEqual(line["stations"], count)
                    self.assertLessEqual(abs(sum(mine) - sum_dh), 0.05e-3)

    def test_sessions_started_at_dummy_zero(self):
        """Three sessions of one network, each started with 0 entered on the
        level: the first fixes the network, the others are listed, the
        loops are judged on their own misclosure."""
        loop = level_files.loop_stations(LOOP, TRUE, NOISE)
        text = (level_files.gsi(loop[:4], start_height=0.0) + level_files.gsi(loop[4:6], start_height=0.0)
                + level_files.gsi(loop[6:], start_height=0.0))
        path = self.root / "sessions.gsi"
        path.write_text(text, encoding="latin-1")
        got = self.level(path)
        self.assertFalse(got["heights_relative"])
        self.assertEqual([p["datum"] for p in got["parts"]], ["entered"])
        self.assertEqual(got["parts"][0]["datum_points"], ["BM1"])
        _, heights = expected([loop], {"BM1": 0.0})
        for point, h in heights.items():
            self.assertAlmostEqual(got["heights"][point], h, places=9, msg=point)
        self.assertTrue(all(cycle["within"] for cycle in got["loops"]))
        self.assertTrue(all(line["within"] for line in got["lines"]))
        # J2 and J3 were entered as 0 too: told, with their adjusted heights.
        self.assertEqual(len(got["warnings"]), 2)
        for warning, point in zip(got["warnings"], ("J2", "J3")):
            self.assertIn(f"输入的 {point} 高程 0.00000 m 未作起算", warning)

    def test_without_a_fixed_point(self):
        """Read and checked all the same, heights relative; never written."""
        stations = level_files.loop_stations(LOOP, TRUE, NOISE)
        path = self.files(stations)["gsi8"]
        got = self.level(path)
        self.assertTrue(got["heights_relative"])
        self.assertEqual(got["heights"]["BM1"], 0.0)
        self.assertAlmostEqual(got["heights"]["J2"], TRUE["J2"] - TRUE["BM1"], places=3)
        self.assertEqual(len(got["loops"]), 1)
        run = subprocess.run([str(BIN / "sedimetra-batch"), "level", str(path)],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("（相对）", run.stdout)

    def project(self, epoch_name="A", reference=None):
        import shutil
        import sqlite3
        project = self.root / "楼.mdb"
        shutil.copy(BIN / "Support/Db/数据库模板.mdb", project)
        with sqlite3.connect(project) as db:
            if reference:
                db.execute("CREATE TABLE HeaderFields (Name TEXT NOT NULL PRIMARY KEY, Value TEXT)")
                db.executemany("INSERT INTO HeaderFields VALUES (?, ?)",
                               [("起算点号", reference[0]), ("起算高程", reference[1])])
            db.execute("INSERT INTO Sur1 VALUES (0, '2020-01-01', ?, 1)", (epoch_name,))
            for number, name in ((1, "J1"), (2, "J2"), (3, "J3")):
                db.execute("INSERT INTO Sur3 VALUES (?, ?, 1, 'A')", (number, name))
                db.execute("INSERT INTO Sur2 VALUES (0, ?, 9.5)", (number,))
        return project

    def test_into_leaves_the_project_as_it_was_on_every_failure(self):
        import hashlib
        stations = level_files.loop_stations(LOOP, TRUE, NOISE)
        gsi8 = self.files(stations)["gsi8"]
        huge = self.root / "huge.dat"
        huge.write_text(level_files.dini(stations).replace("Rb        1.20000 m", "Rb          1e308 m"),
                        encoding="latin-1")
        blank = self.root / "blank.gsi"
        blank.write_text(level_files.gsi(stations).replace("+000000J2 ", "+         "), encoding="latin-1")
        (self.root / "a folder").mkdir()
        cases = [
            ("an epoch the project has not", [gsi8, "--fixed", "BM1=10", "--epoch", "99"], "没有第 99 次观测"),
            ("a negative epoch", [gsi8, "--fixed", "BM1=10", "--epoch", "-5"], "没有第 -5 次观测"),
            ("a report in a missing folder", [gsi8, "--fixed", "BM1=10", "--epoch", "0", "--report",
                                              self.root / "missing" / "r.xlsx"], "无法"),
            ("the project as report", [gsi8, "--fixed", "BM1=10", "--epoch", "0", "--report", "PROJECT"], "工程"),
            ("the level file as report", [gsi8, "--fixed", "BM1=10", "--epoch", "0", "--report", gsi8],
             "水准原始数据"),
            ("a folder as report", [gsi8, "--fixed", "BM1=10", "--epoch", "0", "--report", self.root / "a folder"],
             "文件夹"),
            ("a reading of 1e308 m", [huge, "--fixed", "BM1=10", "--epoch", "0"], "超出 ±10 m"),
            ("a fixed height of 1.7e308", [gsi8, "--fixed", "BM1=1.7e308", "--epoch", "0"], "--fixed"),
            ("a blank point id", [blank, "--fixed", "BM1=10", "--epoch", "0"], "没有点号"),
            ("the project's reference height 1e999", [gsi8, "--epoch", "0", "REFERENCE"], "不是有效的高程"),
            ("heights only relative", [gsi8, "--epoch", "0"], "只有相对高程"),
        ]
        for name, args, message in cases:
            with self.subTest(case=name):
                project = self.project(reference=("BM1", "1e999") if "REFERENCE" in args else None)
                before = hashlib.sha256(project.read_bytes()).hexdigest()
                args = [project if a == "PROJECT" else a for a in args if a != "REFERENCE"]
                run = subprocess.run([str(BIN / "sedimetra-batch"), "level", *map(str, args[:1]), "--into",
                                      str(project), *map(str, args[1:])],
                                     capture_output=True, text=True, timeout=60)
                self.assertNotEqual(run.returncode, 0, run.stdout)
                self.assertIn(message, run.stderr)
                self.assertEqual(hashlib.sha256(project.read_bytes()).hexdigest(), before)
                self.assertEqual([p.name for p in self.root.iterdir() if p.name.endswith(".tmp")], [])

    def test_a_long_epoch_name_shortens_the_report_name(self):
        stations = level_files.loop_stations(LOOP, TRUE, NOISE)
        project = self.project("第" * 300)
        run = subprocess.run([str(BIN / "sedimetra-batch"), "level", str(self.files(stations)["gsi8"]),
                              "--fixed", "BM1=10", "--into", str(project), "--epoch", "0"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        reports = [p for p in self.root.iterdir() if p.name.endswith("-水准.xlsx")]
        self.assertEqual(len(reports), 1)
        self.assertLessEqual(len(reports[0].name.encode()), 255)

    def test_a_chain_of_3000_points_in_bounded_time_and_memory(self):
        import resource
        import time
        heights = {"BM1": 10.0}
        route = ["BM1"] + [f"P{i}" for i in range(1, 3001)] + ["BM1"]
        for i in range(1, 3001):
            heights[f"P{i}"] = 10.0 + 0.01 * math.sin(i)
        stations = level_files.loop_stations(route, heights)
        path = self.root / "chain.gsi"
        path.write_text(level_files.gsi(stations), encoding="latin-1")

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        start = time.monotonic()
        run = subprocess.run([str(BIN / "sedimetra-batch"), "level", str(path), "--fixed", "BM1=10",
                              "--format", "json"], capture_output=True, text=True, timeout=120,
                             preexec_fn=limit)
        self.assertEqual(run.returncode, 0, run.stderr[-2000:])
        self.assertLess(time.monotonic() - start, 30)
        got = json.loads(run.stdout)
        self.assertEqual(len(got["heights"]), 3001)
        self.assertEqual(len(got["sigma_mm"]), 3000)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
