#!/usr/bin/python3
"""Projects on a PostgreSQL server, against a real server: a throwaway
cluster (initdb and pg_ctl of Debian's postgresql) in a temporary folder, on
a free port, run as an unprivileged user when the test runs as root. Without
a server that can start, the test says why and is skipped (exit 77).

usage: tst_server.py BIN_DIR BENCH_DIR SERVER_WINDOW_TEST
"""
import contextlib
import glob
import hashlib
import json
import os
import pathlib
import pwd
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

import openpyxl

from pgcluster import run_tests

BIN = pathlib.Path(sys.argv[1])
BENCH = pathlib.Path(sys.argv[2])
WINDOW_TEST = pathlib.Path(sys.argv[3])
ADMIN_PASSWORD = "Adm1n-Pw-7q"


CLUSTER = None


def url(project=None, user="admin", password=None):
    who = user + (f":{password}" if password else "")
    base = f"postgresql://{who}@127.0.0.1:{CLUSTER.port}/firm"
    return base + (f"?project={project}" if project else "")


def batch(*args, password=ADMIN_PASSWORD, cwd=None, env=None):
    env = {**os.environ, **(env or {})}
    env.pop("PGPASSWORD", None)
    if password is not None:
        env["PGPASSWORD"] = password
    return subprocess.run([str(BIN / "sedimetra-batch"), *map(str, args)], capture_output=True,
                          text=True, timeout=300, env=env, cwd=cwd)


def workbook(path, rows):
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "Sheet1"
    sheet.append(["点名", "高程"])
    for row in rows:
        sheet.append(list(row))
    book.save(path)


class ServerProjects(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = pathlib.Path(cls.tmp.name)
        CLUSTER.sql("DROP DATABASE IF EXISTS firm", database="postgres")
        CLUSTER.sql("CREATE DATABASE firm", database="postgres")
        run = batch("server", "init", url())
        assert run.returncode == 0, run.stderr
        cls.large = cls.root / "大楼.mdb"
        subprocess.run([str(BENCH / "sedimetra-make-large-project"), str(cls.large), "150", "300"],
                       check=True, capture_output=True, timeout=300)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_init_is_versioned_and_idempotent(self):
        self.assertEqual(CLUSTER.sql("SELECT version FROM sedimetra.schema_version"), "7")
        again = batch("server", "init", url())
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn("表未作修改", again.stdout)
        # Quiet unless something is wrong: one line, nothing on stderr.
        self.assertEqual(again.stderr, "")
        self.assertEqual(len(again.stdout.strip().splitlines()), 1)
        self.assertEqual(CLUSTER.sql("SELECT count(*) FROM sedimetra.acirgb"), "256")

    def test_the_schema_scripts_run_with_psql(self):
        # The schema as kept in the program's SQL files, run by psql on an
        # empty database: the same functions, triggers, policies and rights
        # as `server init` made.
        scripts = pathlib.Path(__file__).resolve().parents[1] / "src/project/sql/server"
        CLUSTER.sql("DROP DATABASE IF EXISTS scripted", database="postgres")
        CLUSTER.sql("CREATE DATABASE scripted", database="postgres")
        files = [scripts / name for name in ("1-tables.sql", "3-positions.sql", "5-provenance.sql")]
        files += sorted((scripts / "rules").glob("*.sql"))
        run = subprocess.run(["psql", "-h", "127.0.0.1", "-p", str(CLUSTER.port), "-U", "admin", "-d", "scripted",
                              "-q", "-v", "ON_ERROR_STOP=1", "--single-transaction",
                              *[arg for f in files for arg in ("-f", str(f))]],
                             capture_output=True, text=True, timeout=120,
                             env={**os.environ, "PGPASSWORD": ADMIN_PASSWORD, "PGOPTIONS": "-c client_min_messages=warning"})
        self.assertEqual(run.returncode, 0, run.stderr)
        catalog = [
            "SELECT p.oid::regprocedure, md5(prosrc), prosecdef, proconfig, proowner::regrole, "
            "(SELECT array_agg(a::text ORDER BY a::text) FROM unnest(proacl) a) "
            "FROM pg_proc p WHERE pronamespace = 'sedimetra'::regnamespace ORDER BY p.oid::regprocedure::text",
            "SELECT tgrelid::regclass, tgname, tgfoid::regproc FROM pg_trigger WHERE NOT tgisinternal "
            "ORDER BY tgrelid::regclass::text, tgname",
            "SELECT tablename, policyname, cmd, roles, qual, with_check FROM pg_policies ORDER BY 1, 2",
            "SELECT c.oid::regclass, relowner::regrole, relrowsecurity, "
            "(SELECT array_agg(a::text ORDER BY a::text) FROM unnest(relacl) a) FROM pg_class c "
            "WHERE relnamespace IN ('sedimetra'::regnamespace, 'sedimetra_project'::regnamespace) "
            "ORDER BY c.oid::regclass::text",
        ]
        for query in catalog:
            self.assertEqual(CLUSTER.sql(query, database="scripted"), CLUSTER.sql(query), query)
        self.assertIn("confirm_elevation", CLUSTER.sql(catalog[0], database="scripted"))

    def test_every_change_is_counted_whoever_makes_it(self):
        for name in ("计数楼一", "计数楼二"):
            self.assertEqual(batch("server", "push", self.small(name), url(name)).returncode, 0)
        seq = "SELECT string_agg(change_seq::text, ',' ORDER BY name) FROM sedimetra.projects " \
              "WHERE name IN ('计数楼一', '计数楼二')"
        before = [int(v) for v in CLUSTER.sql(seq).split(",")]
        # Plain SQL, not through the program: one statement over both
        # projects, one over the first alone, one that touches nothing.
        CLUSTER.sql("UPDATE sedimetra.sur2 SET pointh = pointh + 0.001 WHERE project_id IN "
                    "(SELECT id FROM sedimetra.projects WHERE name IN ('计数楼一', '计数楼二'))")
        CLUSTER.sql("DELETE FROM sedimetra.sur2 WHERE project_id = "
                    "(SELECT id FROM sedimetra.projects WHERE name = '计数楼一')")
        CLUSTER.sql("DELETE FROM sedimetra.sur2 WHERE cjno = -7")
        after = [int(v) for v in CLUSTER.sql(seq).split(",")]
        self.assertEqual([a - b for a, b in zip(after, before)], [2, 1])

    def test_push_pull_round_trip_gives_identical_outputs(self):
        target = url("大楼 A")
        run = batch("server", "push", self.large, target)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("45000 个高程", run.stdout)
        self.assertIn("校验和一致", run.stdout)
        refused = batch("server", "push", self.large, target)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("--replace", refused.stderr)
        self.assertEqual(batch("server", "push", self.large, target, "--replace").returncode, 0)

        out = self.root / "out"
        out.mkdir(exist_ok=True)
        for source, stem in ((self.large, "file"), (target, "server")):
            table = batch("table", source, "--out", out / f"{stem}.xlsx")
            self.assertEqual(table.returncode, 0, table.stderr)
            curves = batch("curves", source, "--kind", "settlement", "--out", out / f"{stem}.dxf")
            self.assertEqual(curves.returncode, 0, curves.stderr)
        self.assertEqual((out / "file.dxf").read_bytes(), (out / "server.dxf").read_bytes())
        with zipfile.ZipFile(out / "file.xlsx") as a, zipfile.ZipFile(out / "server.xlsx") as b:
            for name in a.namelist():
                self.assertEqual(a.read(name), b.read(name), name)

        pulled = self.root / "拉回.mdb"
        run = batch("server", "pull", target, pulled)
        self.assertEqual(run.returncode, 0, run.stderr)
        query = {"Sur1": "SELECT CjNo, MyDate, Name, CAST(Layers AS TEXT) FROM Sur1 ORDER BY 1",
                 "Sur2": "SELECT CjNo, CjdNo, PointH FROM Sur2 ORDER BY 1, 2",
                 "Sur3": "SELECT CjdNo, PointName, Aci, Mark FROM Sur3 ORDER BY 1"}
        with sqlite3.connect(self.large) as a, sqlite3.connect(pulled) as b:
            for table, sql in query.items():
                self.assertEqual(a.execute(sql).fetchall(), b.execute(sql).fetchall(), table)

    def test_positions_and_the_plan_drawing_move_both_ways(self):
        small = self.small("坐标楼")
        with sqlite3.connect(small) as db:
            db.execute("INSERT INTO Sur3 VALUES (3, 'J3', 1, 'A')")
            db.execute("INSERT INTO Sur2 VALUES (0, 3, 12.5)")
        coords = self.root / "坐标楼.csv"
        coords.write_text("点名,E,N\nJ1,0,0\nJ2,12.25,0\nJ3,0.5,9.75\n", encoding="utf-8")
        self.assertEqual(batch("coords", small, coords).returncode, 0)
        drawing = b"0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n12\n21\n0\n0\nENDSEC\n0\nEOF\n"
        with sqlite3.connect(small) as db:
            db.execute("INSERT INTO PlanDrawing VALUES ('平面.dxf', ?)", (drawing,))
        run = batch("server", "push", small, url("坐标楼"))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(CLUSTER.sql("SELECT string_agg(x || ',' || y, ';' ORDER BY cjdno) FROM sedimetra.sur3 "
                                     "WHERE project_id = (SELECT id FROM sedimetra.projects WHERE name = '坐标楼')"),
                         "0,0;12.25,0;0.5,9.75")
        on_server = batch("plan", url("坐标楼"), "--format", "json")
        self.assertEqual(on_server.returncode, 0, on_server.stderr)
        pulled = self.root / "坐标楼拉回.mdb"
        run = batch("server", "pull", url("坐标楼"), pulled)
        self.assertEqual(run.returncode, 0, run.stderr)
        with sqlite3.connect(pulled) as db:
            self.assertEqual(db.execute("SELECT CjdNo, X, Y FROM Sur3 ORDER BY 1").fetchall(),
                             [(1, 0.0, 0.0), (2, 12.25, 0.0), (3, 0.5, 9.75)])
            self.assertEqual(db.execute("SELECT Name, Data FROM PlanDrawing").fetchall(), [("平面.dxf", drawing)])
        self.assertEqual(batch("plan", pulled, "--format", "json").stdout, on_server.stdout)

    def test_a_report_of_a_server_project(self):
        self.assertEqual(batch("server", "push", self.small("报告楼"), url("报告楼")).returncode, 0)
        pdf = self.root / "报告楼.pdf"
        run = batch("report", url("报告楼"), "--out", pdf)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertTrue(pdf.read_bytes().startswith(b"%PDF"))
        text = subprocess.run(["pdftotext", pdf, "-"], capture_output=True, text=True, check=True).stdout
        self.assertIn("沉降观测报告", text)
        self.assertIn("J2", text)

    def test_a_record_without_a_height_moves_both_ways(self):
        small = self.root / "空高程.mdb"
        shutil.copy(BIN / "Support/Db/数据库模板.mdb", small)
        with sqlite3.connect(small) as db:
            db.execute("INSERT INTO Sur1 VALUES (0, '2020-01-01', 'A', 1)")
            db.executemany("INSERT INTO Sur3 VALUES (?, ?, 1, 'A')", [(1, "J1"), (2, "J2")])
            db.executemany("INSERT INTO Sur2 VALUES (0, ?, ?)", [(1, 10.5), (2, None)])
        run = batch("server", "push", small, url("空高程楼"))
        self.assertEqual(run.returncode, 0, run.stderr)
        pulled = self.root / "空高程拉回.mdb"
        run = batch("server", "pull", url("空高程楼"), pulled)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("1 个高程", run.stdout)
        with sqlite3.connect(pulled) as db:
            self.assertEqual(db.execute("SELECT CjNo, CjdNo, PointH FROM Sur2").fetchall(), [(0, 1, 10.5)])

    def test_read_only_role_views_but_never_changes(self):
        CLUSTER.sql("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'reader') "
                    "THEN CREATE ROLE reader LOGIN PASSWORD 'Rd-pw-3' IN ROLE sedimetra_read; "
                    "END IF; END $$")
        self.assertEqual(batch("server", "push", self.large, url("只读楼")).returncode, 0)
        as_reader = url("只读楼", user="reader")
        table = batch("table", as_reader, "--out", self.root / "reader.xlsx", password="Rd-pw-3")
        self.assertEqual(table.returncode, 0, table.stderr)
        book = self.root / "one.xlsx"
        workbook(book, [("J1", 1.0)])
        run = batch("import", as_reader, "--epoch", "1", book, password="Rd-pw-3")
        self.assertEqual(run.returncode, 1)
        self.assertIn("工程文件是只读的", run.stderr)

    def test_opposite_orders_never_deadlock(self):
        # Two workbooks of one epoch, the points in opposite orders, imported
        # at once: both succeed, ten times over.
        self.assertEqual(batch("server", "push", self.large, url("对向楼")).returncode, 0)
        target = url("对向楼")
        up, down = self.root / "up.xlsx", self.root / "down.xlsx"
        rows = [(f"J{j}", 80 + j / 1000) for j in range(1, 151)]
        workbook(up, rows)
        workbook(down, list(reversed([(name, h + 0.0005) for name, h in rows])))
        for attempt in range(10):
            results = {}

            def run_import(key, path):
                results[key] = batch("import", target, "--epoch", "8", path)
            threads = [threading.Thread(target=run_import, args=pair) for pair in (("up", up), ("down", down))]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            for key in ("up", "down"):
                self.assertEqual(results[key].returncode, 0, f"try {attempt}, {key}: {results[key].stderr}")

    def test_a_held_lock_is_told_within_its_timeout(self):
        self.assertEqual(batch("server", "push", self.large, url("锁楼")).returncode, 0)
        book = self.root / "lock.xlsx"
        workbook(book, [("J1", 50.5)])
        with project_row_held("锁楼", 40):
            start = time.time()
            run = batch("import", url("锁楼"), "--epoch", "0", book)
        self.assertLess(time.time() - start, 30)
        self.assertEqual(run.returncode, 1)
        self.assertIn("lock_timeout", run.stderr)

    def test_two_writers_at_once(self):
        self.assertEqual(batch("server", "push", self.large, url("并发楼")).returncode, 0)
        target = url("并发楼")
        books = []
        for epoch in (5, 6):
            path = self.root / f"epoch{epoch}.xlsx"
            workbook(path, [(f"J{j}", 90 + epoch + j / 1000) for j in range(1, 151)])
            books.append((epoch, path))
        results = {}

        def run_import(epoch, path):
            results[epoch] = batch("import", target, "--epoch", epoch, path)

        threads = [threading.Thread(target=run_import, args=book) for book in books]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for epoch, _ in books:
            self.assertEqual(results[epoch].returncode, 0, results[epoch].stderr)
            got = CLUSTER.sql("SELECT count(*), sum(pointh) FROM sedimetra.sur2 s JOIN "
                              "sedimetra.projects p ON p.id = s.project_id "
                              f"WHERE p.name = '并发楼' AND cjno = {epoch} AND "
                              f"pointh >= {90 + epoch}")
            self.assertEqual(got.split("|")[0], "150")
        # The same record from two writers one after the other: the later stays.
        first, second = self.root / "first.xlsx", self.root / "second.xlsx"
        workbook(first, [("J1", 11.111)])
        workbook(second, [("J1", 22.222)])
        self.assertEqual(batch("import", target, "--epoch", "7", first).returncode, 0)
        self.assertEqual(batch("import", target, "--epoch", "7", second).returncode, 0)
        self.assertEqual(CLUSTER.sql(
            "SELECT pointh FROM sedimetra.sur2 s JOIN sedimetra.projects p ON p.id = s.project_id "
            "WHERE p.name = '并发楼' AND cjno = 7 AND cjdno = 1"), "22.222")

    def test_dropped_connection_rolls_the_import_back(self):
        # The connection is cut once the import's transaction has written
        # and waits for the project's row.
        many = self.root / "多点.mdb"
        shutil.copy(BIN / "Support/Db/数据库模板.mdb", many)
        with sqlite3.connect(many) as db:
            db.execute("INSERT INTO Sur1 VALUES (0, '2020-01-01', 'A', 1)")
            db.executemany("INSERT INTO Sur3 VALUES (?, ?, 1, 'A')",
                           [(j, f"P{j}") for j in range(1, 2001)])
            db.executemany("INSERT INTO Sur2 VALUES (0, ?, 50.0)", [(j,) for j in range(1, 2001)])
        self.assertEqual(batch("server", "push", many, url("断线楼")).returncode, 0)
        book = self.root / "many.xlsx"
        workbook(book, [(f"P{j}", 50.001) for j in range(1, 2001)])
        cut = {"done": False}

        def cut_when_writing():
            deadline = time.time() + 60
            while time.time() < deadline and not cut["done"]:
                killed = CLUSTER.sql(
                    "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE "
                    "application_name = 'sedimetra' AND backend_xid IS NOT NULL "
                    "AND wait_event_type = 'Lock'")
                if killed != "0":
                    cut["done"] = True
                    return
                time.sleep(0.05)

        # Another session holds the project's row: the import's first write
        # waits there, inside its transaction, until its connection is cut.
        with project_row_held("断线楼", 60):
            watcher = threading.Thread(target=cut_when_writing)
            watcher.start()
            run = batch("import", url("断线楼"), "--epoch", "0", book)
            cut["done"] = True
            watcher.join()
        self.assertEqual(run.returncode, 1, run.stdout)
        self.assertIn("调入失败，工程未作任何修改", run.stderr)
        self.assertEqual(CLUSTER.sql(
            "SELECT count(*) FROM sedimetra.sur2 s JOIN sedimetra.projects p ON "
            "p.id = s.project_id WHERE p.name = '断线楼' AND pointh <> 50"), "0")

    def test_window_on_a_server_project(self):
        self.assertEqual(batch("server", "push", self.large, url("窗口楼")).returncode, 0)
        login("gina", "sedimetra_write")
        env = {**os.environ, "PGPASSWORD": ADMIN_PASSWORD, "SEDIMETRA_TEST_SERVER": url("窗口楼"),
               "SEDIMETRA_KEEP_PICTURES": os.environ.get("SEDIMETRA_KEEP_PICTURES", ""),
               "SEDIMETRA_TEST_MEMBER": "gina", "QT_QPA_PLATFORM": "offscreen"}
        run = subprocess.run([str(WINDOW_TEST)], capture_output=True, text=True, timeout=300,
                             env=env)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("PASS   : ServerWindowTest::laterCommitWinsAndTheTypistIsTold()", run.stdout)
        self.assertIn("PASS   : ServerWindowTest::anAdministratorGivesRights()", run.stdout)
        self.assertIn("PASS   : ServerWindowTest::theFirmsBuildingsAtAGlance()", run.stdout)
        self.assertEqual(CLUSTER.sql("SELECT m.can_write FROM sedimetra.members m JOIN sedimetra.projects p "
                                     "ON p.id = m.project_id WHERE p.name = '窗口楼' AND m.member = 'gina'"), "f")

    def test_wrong_password_is_told_without_the_password(self):
        secret = "Wr0ng-S3cret-xyz"
        for args, password in (((url("大楼 A"),), secret),
                               ((url("大楼 A", password=secret),), None)):
            run = batch("analyse", *args, password=password)
            self.assertEqual(run.returncode, 1)
            self.assertIn("用户 admin 的密码不对", run.stderr)
            self.assertNotIn("password authentication failed", run.stderr)
            self.assertNotIn(secret, run.stderr + run.stdout)

    def test_rights_per_project(self):
        for who in ("alice", "bob"):
            login(who, "sedimetra_write")
        login("carol", "sedimetra_admin")
        for who, name in (("alice", "甲楼"), ("bob", "乙楼")):
            run = batch("server", "push", self.small(name), url(name, user=who), password=PASSWORDS[who])
            self.assertEqual(run.returncode, 0, run.stderr)
        b = CLUSTER.sql("SELECT id FROM sedimetra.projects WHERE name = '乙楼'")
        a = CLUSTER.sql("SELECT id FROM sedimetra.projects WHERE name = '甲楼'")
        b_rows = "SELECT count(*), sum(pointh) FROM sedimetra.sur2 WHERE project_id = " + b
        before = CLUSTER.sql(b_rows)
        # Plain SQL as alice, a writer of 甲楼 only: she neither sees nor
        # changes 乙楼, nor touches the projects table or its counters.
        self.assertEqual(as_user("alice", "SELECT count(*) FROM sedimetra.sur2 WHERE project_id = " + b), "0")
        self.assertEqual(as_user("alice", "SELECT string_agg(name, ',') FROM sedimetra.projects"), "甲楼")
        for harmless in ("UPDATE sedimetra.sur2 SET pointh = 0 WHERE project_id = " + b,
                         "DELETE FROM sedimetra.header_fields WHERE project_id = " + b,
                         "DELETE FROM sedimetra.sur1 WHERE project_id = " + b):
            as_user("alice", harmless)
        for refused in (f"INSERT INTO sedimetra.sur2 VALUES ({b}, 0, 99, 1.0)",
                        f"UPDATE sedimetra.sur2 SET project_id = {b} WHERE project_id = {a}",
                        "DELETE FROM sedimetra.projects",
                        "UPDATE sedimetra.projects SET change_seq = 0",
                        "INSERT INTO sedimetra.projects (name) VALUES ('丙楼')",
                        "SELECT sedimetra.grant_project('乙楼', 'alice', 'write')"):
            with self.assertRaises(RuntimeError, msg=refused):
                as_user("alice", refused)
        self.assertEqual(CLUSTER.sql(b_rows), before)
        self.assertEqual(CLUSTER.sql("SELECT count(*) FROM sedimetra.sur1 WHERE project_id = " + b), "1")
        self.assertEqual(CLUSTER.sql("SELECT count(*) FROM sedimetra.projects WHERE name IN ('甲楼', '乙楼')"), "2")

        # Through the program: alice can neither open nor replace 乙楼.
        replace = batch("server", "push", self.small("乙楼"), url("乙楼", user="alice"), "--replace",
                        password=PASSWORDS["alice"])
        self.assertEqual(replace.returncode, 1)
        self.assertIn("这个名称不能使用", replace.stderr)
        opened = batch("analyse", url("乙楼", user="alice"), password=PASSWORDS["alice"])
        self.assertEqual(opened.returncode, 1)
        self.assertIn("没有读它的权限", opened.stderr)
        refused = batch("server", "grant", url("乙楼", user="bob"), "alice", "write", password=PASSWORDS["bob"])
        self.assertEqual(refused.returncode, 1)
        self.assertIn("只有 sedimetra_admin", refused.stderr)

        # An administrator gives her read rights, then write rights: she
        # reads it, then replaces it; bob stays its member.
        def grant(rights):
            run = batch("server", "grant", url("乙楼", user="carol"), "alice", rights, password=PASSWORDS["carol"])
            self.assertEqual(run.returncode, 0, run.stderr)
        grant("read")
        self.assertEqual(batch("analyse", url("乙楼", user="alice"), password=PASSWORDS["alice"]).returncode, 0)
        still = batch("server", "push", self.small("乙楼"), url("乙楼", user="alice"), "--replace",
                      password=PASSWORDS["alice"])
        self.assertIn("写权限", still.stderr)
        grant("write")
        replace = batch("server", "push", self.small("乙楼"), url("乙楼", user="alice"), "--replace",
                        password=PASSWORDS["alice"])
        self.assertEqual(replace.returncode, 0, replace.stderr)
        members = batch("server", "members", url("乙楼", user="bob"), password=PASSWORDS["bob"])
        self.assertEqual(members.stdout.split(), ["alice", "write", "bob", "write"])
        grant("none")
        self.assertEqual(batch("analyse", url("乙楼", user="alice"), password=PASSWORDS["alice"]).returncode, 1)

    def test_no_login_reaches_around_the_rights(self):
        """A viewer, and a writer of another project, try to run SQL with the
        schema owner's rights through the change counter: by a trigger of
        their own on a temporary table, and by a cast of a type of their own
        that the counter would run. Both fail; the project, its counter and
        the members stay as they were."""
        target, state = self.guarded_project()
        before = state()
        for who in ("viola", "frank"):
            for route, sql in ATTACKS.items():
                with self.subTest(who=who, route=route):
                    with self.assertRaises(RuntimeError):
                        as_user(who, sql.format(target=target))
                    self.assertEqual(state(), before)

    def test_what_a_login_learns_of_others(self):
        target, _ = self.guarded_project()
        # Who works on which building: a viewer sees no one's rows but its
        # own; a writer sees the members of its own projects only.
        self.assertEqual(as_user("viola", "SELECT count(*) FROM sedimetra.members"), "0")
        mine = "SELECT r.rolname FROM pg_roles r WHERE pg_has_role('frank', r.oid, 'MEMBER')"
        visible = ("SELECT string_agg(project_id || ':' || member, ',' ORDER BY project_id, member) "
                   "FROM sedimetra.members")
        self.assertEqual(as_user("frank", visible), CLUSTER.sql(
            visible + f" WHERE member IN ({mine}) OR project_id IN (SELECT project_id FROM "
            f"sedimetra.members WHERE can_write AND member IN ({mine}))"))
        self.assertNotIn(target, {row.split(":")[0] for row in as_user("frank", visible).split(",")})
        # A project one may not see answers as any name one may not use.
        errors = []
        for name in ("防护楼", " "):
            with self.assertRaises(RuntimeError) as refused:
                as_user("frank", f"SELECT sedimetra.create_project('{name}')")
            errors.append(str(refused.exception))
        self.assertEqual(errors[0], errors[1])
        pushed = batch("server", "push", self.small("防护楼"), url("防护楼", user="frank"),
                       password=PASSWORDS["frank"])
        self.assertEqual(pushed.returncode, 1)
        self.assertIn("这个名称不能使用", pushed.stderr)
        self.assertNotIn("已有", pushed.stderr)
        # Rights for a role that does not exist are refused, naming it.
        for rights in ("write", "none"):
            granted = batch("server", "grant", url("防护楼"), "no_such_crew", rights)
            self.assertEqual(granted.returncode, 1, rights)
            self.assertIn("没有用户或角色“no_such_crew”", granted.stderr)
        # server init by someone else than the schema's owner: told in words.
        init = batch("server", "init", url(user="frank"), password=PASSWORDS["frank"])
        self.assertEqual(init.returncode, 1)
        self.assertIn("只有沉降工程库的所有者 sedimetra_owner", init.stderr)
        self.assertNotIn("ERROR", init.stderr)
        self.assertNotIn("must be owner", init.stderr)

    def test_upgrade_from_version_3_closes_the_counter(self):
        # A version-3 schema: every function of it executable by anyone, the
        # members table open to every login.
        CLUSTER.sql("DROP DATABASE IF EXISTS v3firm", database="postgres")
        CLUSTER.sql("CREATE DATABASE v3firm", database="postgres")
        v3 = url().replace("/firm", "/v3firm")
        self.assertEqual(batch("server", "init", v3).returncode, 0)
        CLUSTER.sql("UPDATE sedimetra.schema_version SET version = 3; "
                    "GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA sedimetra TO PUBLIC; "
                    "DROP POLICY members_read ON sedimetra.members; "
                    "ALTER TABLE sedimetra.members DISABLE ROW LEVEL SECURITY", database="v3firm")
        CLUSTER.sql("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'outsider') "
                    "THEN CREATE ROLE outsider NOLOGIN; END IF; END $$", database="v3firm")
        executable = ("SELECT count(*) FROM pg_proc WHERE pronamespace = 'sedimetra'::regnamespace "
                      "AND has_function_privilege('outsider', oid, 'EXECUTE')")
        self.assertNotEqual(CLUSTER.sql(executable, database="v3firm"), "0")
        upgrade = batch("server", "init", v3)
        self.assertEqual(upgrade.returncode, 0, upgrade.stderr)
        self.assertIn("从第 3 版升级到第 7 版", upgrade.stdout)
        self.assertEqual(upgrade.stderr, "")
        self.assertEqual(CLUSTER.sql(executable, database="v3firm"), "0")
        self.assertEqual(CLUSTER.sql("SELECT relrowsecurity FROM pg_class WHERE oid = 'sedimetra.members'::regclass",
                                     database="v3firm"), "t")
        for function, callers in (("count_change()", ""),
                                  ("create_project(text)", "sedimetra_admin,sedimetra_write"),
                                  ("grant_project(text,text,text)", "sedimetra_admin")):
            with self.subTest(function=function):
                self.assertEqual(CLUSTER.sql(
                    "SELECT coalesce(string_agg(rolname, ',' ORDER BY rolname), '') FROM pg_roles "
                    f"WHERE rolname LIKE 'sedimetra%' AND rolname <> 'sedimetra_owner' "
                    f"AND has_function_privilege(oid, 'sedimetra.{function}', "
                    "'EXECUTE')", database="v3firm"), callers)

    def guarded_project(self):
        """A project of the administrator's, a viewer (viola) and a writer
        of another project (frank); its id and a look at what must not
        change: its heights, its counter, the members."""
        login("viola", "sedimetra_read")
        login("frank", "sedimetra_write")
        for name, who in (("防护楼", "admin"), ("弗楼", "frank")):
            if CLUSTER.sql(f"SELECT count(*) FROM sedimetra.projects WHERE name = '{name}'") == "0":
                pushed = batch("server", "push", self.small(name), url(name, user=who),
                               password=PASSWORDS.get(who, ADMIN_PASSWORD))
                self.assertEqual(pushed.returncode, 0, pushed.stderr)
        target = CLUSTER.sql("SELECT id FROM sedimetra.projects WHERE name = '防护楼'")

        def state():
            return (CLUSTER.sql(f"SELECT sum(pointh) FROM sedimetra.sur2 WHERE project_id = {target}"),
                    CLUSTER.sql(f"SELECT change_seq FROM sedimetra.projects WHERE id = {target}"),
                    CLUSTER.sql("SELECT string_agg(project_id || ':' || member || ':' || can_write, ',' "
                                "ORDER BY project_id, member) FROM sedimetra.members"))
        return target, state

    def test_upgrade_from_version_1_keeps_what_writers_could_do(self):
        CLUSTER.sql("DROP DATABASE IF EXISTS oldfirm", database="postgres")
        CLUSTER.sql("CREATE DATABASE oldfirm", database="postgres")
        CLUSTER.sql(VERSION_1_SCHEMA, database="oldfirm")
        CLUSTER.sql("INSERT INTO sedimetra.projects (name) VALUES ('旧楼'); "
                    "INSERT INTO sedimetra.sur1 VALUES (1, 0, '2020-01-01', 'A', '1'); "
                    "INSERT INTO sedimetra.sur3 VALUES (1, 1, 'J1', 1, 'A'); "
                    "INSERT INTO sedimetra.sur2 VALUES (1, 0, 1, 10.0)", database="oldfirm")
        login("dave", "sedimetra_write")
        old = url("旧楼", user="dave").replace("/firm", "/oldfirm")
        refused = batch("analyse", old, password=PASSWORDS["dave"])
        self.assertIn("server init 升级", refused.stderr)
        upgrade = batch("server", "init", url().replace("/firm", "/oldfirm"))
        self.assertEqual(upgrade.returncode, 0, upgrade.stderr)
        self.assertIn("从第 1 版升级到第 7 版", upgrade.stdout)
        self.assertEqual(CLUSTER.sql("SELECT version FROM sedimetra.schema_version", database="oldfirm"), "7")
        book = self.root / "旧楼.xlsx"
        workbook(book, [("J1", 9.99)])
        run = batch("import", old, "--epoch", "0", book, password=PASSWORDS["dave"])
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(CLUSTER.sql("SELECT pointh FROM sedimetra.sur2", database="oldfirm"), "9.99")
        # A project made after the upgrade is its maker's alone.
        login("erin", "sedimetra_write")
        new = url("新楼", user="erin").replace("/firm", "/oldfirm")
        self.assertEqual(batch("server", "push", self.small("新楼"), new, password=PASSWORDS["erin"]).returncode, 0)
        self.assertEqual(batch("analyse", new.replace("erin@", "dave@"), password=PASSWORDS["dave"]).returncode, 1)

    def test_opening_a_project_writes_nothing(self):
        # A server that refuses every write (as one with a full disk does)
        # still lets a project be read, its table made and its analysis run.
        self.assertEqual(batch("server", "push", self.small("只看楼"), url("只看楼")).returncode, 0)
        env = {"PGOPTIONS": "-c default_transaction_read_only=on"}
        for args in (("analyse", url("只看楼")), ("table", url("只看楼"), "--out", self.root / "只看.xlsx")):
            run = batch(*args, env=env)
            self.assertEqual(run.returncode, 0, run.stderr)

    def test_a_password_in_the_url_is_hidden_from_the_process_list(self):
        self.assertEqual(batch("server", "push", self.small("口令楼"), url("口令楼")).returncode, 0)
        book = self.root / "口令.xlsx"
        workbook(book, [("J1", 10.5)])
        with project_row_held("口令楼", 30):
            waiting = subprocess.Popen(
                [str(BIN / "sedimetra-batch"), "import", url("口令楼", password=ADMIN_PASSWORD),
                 "--epoch", "0", book], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                env={k: v for k, v in os.environ.items() if k != "PGPASSWORD"})
            deadline = time.time() + 20
            while CLUSTER.sql("SELECT count(*) FROM pg_stat_activity WHERE application_name = "
                              "'sedimetra' AND wait_event_type = 'Lock'") == "0" and time.time() < deadline:
                time.sleep(0.05)
            shown = pathlib.Path(f"/proc/{waiting.pid}/cmdline").read_bytes()
            _, err = waiting.communicate(timeout=60)
        self.assertIn(b"project=", shown)
        self.assertNotIn(ADMIN_PASSWORD.encode(), shown)
        self.assertIn("PGPASSWORD", err)

    def test_a_push_whose_check_cannot_run_says_it_was_written(self):
        # One connection at most: the push writes through it, and the
        # read-back check cannot open its own.
        login("frank", "sedimetra_write")
        CLUSTER.sql("ALTER ROLE frank CONNECTION LIMIT 1")
        try:
            run = batch("server", "push", self.small("核对楼"), url("核对楼", user="frank"),
                        password=PASSWORDS["frank"])
        finally:
            CLUSTER.sql("ALTER ROLE frank CONNECTION LIMIT -1")
        self.assertEqual(run.returncode, 3, run.stderr)
        self.assertIn("已写入服务器，但核对未完成", run.stderr)
        self.assertEqual(CLUSTER.sql("SELECT count(*) FROM sedimetra.sur2 s JOIN sedimetra.projects p "
                                     "ON p.id = s.project_id WHERE p.name = '核对楼'"), "2")

    def test_a_database_without_the_schema_is_named(self):
        CLUSTER.sql("DROP DATABASE IF EXISTS bare", database="postgres")
        CLUSTER.sql("CREATE DATABASE bare", database="postgres")
        bare = url("某楼").replace("/firm", "/bare")
        for args in (("server", "push", self.small("某楼"), bare), ("analyse", bare),
                     ("server", "members", bare)):
            run = batch(*args)
            self.assertEqual(run.returncode, 1, args)
            self.assertIn("没有沉降工程库（用 sedimetra-batch server init 建立）", run.stderr)
            self.assertNotIn("EXECUTE", run.stderr)

    def test_killed_pulls_leave_nothing_behind(self):
        self.assertEqual(batch("server", "push", self.large, url("拉取楼")).returncode, 0)
        folder = self.root / "pulls"
        folder.mkdir()
        target = folder / "拉取.mdb"
        start = time.time()
        self.assertEqual(batch("server", "pull", url("拉取楼"), target).returncode, 0)
        whole = time.time() - start
        env = {k: v for k, v in os.environ.items() if k != "PGPASSWORD"}
        env["PGPASSWORD"] = ADMIN_PASSWORD
        for n in range(10):
            pull = subprocess.Popen([str(BIN / "sedimetra-batch"), "server", "pull", url("拉取楼"), target],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
            time.sleep(whole * (n + 0.5) / 10)
            pull.kill()
            pull.wait()
        self.assertEqual(batch("server", "pull", url("拉取楼"), target).returncode, 0)
        self.assertEqual(sorted(p.name for p in folder.iterdir()), ["拉取.mdb"])

    def test_the_history_is_the_servers_own(self):
        """A push carries the file's origins and history; the server records
        a writer's plain UPDATE under the writer's login; no writer changes
        or removes a history row; a writer of another project sees none of
        it; a pull brings it all back to a file."""
        login("hank", "sedimetra_write")
        login("iris", "sedimetra_write")
        project = self.root / "来历.mdb"
        gsi = pathlib.Path(__file__).parent / "fixtures" / "loop_bm1.gsi"
        # An epoch's name with a quote and a backslash: carried through the
        # push's JSON and back unchanged.
        odd = '首"次\\'
        for step in (("new", project), ("points", project, "add", "BM1", "J1", "J2", "J3"),
                     ("level", gsi, "--into", project, "--new-epoch", "--date", "2024-01-01", "--name", odd,
                      "--layers", "1", "--fixed", "BM1=10")):
            run = batch(*step)
            self.assertEqual(run.returncode, 0, run.stderr)
        pushed = batch("server", "push", project, url("来历", user="hank"), password=PASSWORDS["hank"])
        self.assertEqual(pushed.returncode, 0, pushed.stderr)
        pushed = batch("server", "push", self.small("别处"), url("别处", user="iris"), password=PASSWORDS["iris"])
        self.assertEqual(pushed.returncode, 0, pushed.stderr)
        p = CLUSTER.sql("SELECT id FROM sedimetra.projects WHERE name = '来历'")
        j1 = "project_id = {} AND cjno = 0 AND cjdno = 2".format(p)
        as_user("hank", f"UPDATE sedimetra.sur2 SET pointh = 10.2601 WHERE {j1}")
        last = CLUSTER.sql("SELECT e.who || '|' || e.how || '|' || h.oldvalue || '|' || h.newvalue "
                           "FROM sedimetra.history h JOIN sedimetra.entries e ON e.project_id = h.project_id "
                           f"AND e.id = h.entryid WHERE h.{j1} ORDER BY h.id DESC LIMIT 1")
        self.assertEqual(last, "hank|sql|10.2501|10.2601")
        rows = f"SELECT count(*), string_agg(oldvalue || '>' || newvalue, ',') FROM sedimetra.history WHERE project_id = {p}"
        before = CLUSTER.sql(rows)
        for refused in (f"UPDATE sedimetra.history SET newvalue = '1' WHERE project_id = {p}",
                        f"DELETE FROM sedimetra.history WHERE project_id = {p}",
                        f"INSERT INTO sedimetra.history (project_id, kind) VALUES ({p}, 'H')",
                        f"UPDATE sedimetra.entries SET who = 'nobody' WHERE project_id = {p}",
                        f"DELETE FROM sedimetra.sources WHERE project_id = {p}"):
            with self.assertRaises(RuntimeError, msg=refused):
                as_user("hank", refused)
        # An entry says who wrote, whatever its insert claims.
        as_user("hank", f"INSERT INTO sedimetra.entries (project_id, how, who) VALUES ({p}, 'typed', 'someone')")
        self.assertEqual(CLUSTER.sql(f"SELECT who FROM sedimetra.entries WHERE project_id = {p} "
                                     "ORDER BY id DESC LIMIT 1"), "hank")
        self.assertEqual(CLUSTER.sql(rows), before)
        self.assertEqual(as_user("iris", f"SELECT count(*) FROM sedimetra.history WHERE project_id = {p}"), "0")
        self.assertNotEqual(as_user("iris", "SELECT count(*) FROM sedimetra.history"), "0")

        back = self.root / "来历-拉取.mdb"
        pulled = batch("server", "pull", url("来历", user="hank"), back, password=PASSWORDS["hank"])
        self.assertEqual(pulled.returncode, 0, pulled.stderr)
        shown = batch("history", back, "--epoch", "0", "--point", "J1", "--format", "json")
        self.assertEqual(shown.returncode, 0, shown.stderr)
        record = json.loads(shown.stdout)
        self.assertEqual([(r["how"], r["old"], r["new"]) for r in record["history"]],
                         [("level", None, 10.2501), ("server", None, 10.2501), ("sql", 10.2501, 10.2601)])
        self.assertEqual((record["origin"]["file"], record["origin"]["line"], record["origin"]["station"]),
                         ("loop_bm1.gsi", 8, "2"))
        named = json.loads(batch("history", back, "--epoch", "0", "--format", "json").stdout)
        self.assertIn(odd, [r["new"] for r in named["history"]])
        with sqlite3.connect(back) as db:
            kept = db.execute("SELECT Data FROM Sources WHERE Name = 'loop_bm1.gsi'").fetchone()[0]
        self.assertEqual(hashlib.sha256(kept).hexdigest(), hashlib.sha256(gsi.read_bytes()).hexdigest())

    def small(self, name):
        """A project file of one epoch and two points."""
        path = self.root / f"{name}.mdb"
        shutil.copy(BIN / "Support/Db/数据库模板.mdb", path)
        with sqlite3.connect(path) as db:
            db.execute("DELETE FROM Sur1")
            db.execute("DELETE FROM Sur2")
            db.execute("DELETE FROM Sur3")
            db.execute("INSERT INTO Sur1 VALUES (0, '2020-01-01', 'A', 1)")
            db.executemany("INSERT INTO Sur3 VALUES (?, ?, 1, 'A')", [(1, "J1"), (2, "J2")])
            db.executemany("INSERT INTO Sur2 VALUES (0, ?, ?)", [(1, 10.5), (2, 11.5)])
        return path


PASSWORDS = {}


def login(who, role):
    """A login of the cluster, member of `role`, with a password of its own."""
    PASSWORDS[who] = f"{who.capitalize()}-pw-9"
    CLUSTER.sql(f"DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '{who}') "
                f"THEN CREATE ROLE {who} LOGIN PASSWORD '{PASSWORDS[who]}' IN ROLE {role}; END IF; END $$")


def as_user(who, statement):
    """Plain SQL as another login."""
    done = subprocess.run(["psql", "-h", "127.0.0.1", "-p", str(CLUSTER.port), "-U", who, "-d", "firm",
                           "-At", "-v", "ON_ERROR_STOP=1", "-c", statement],
                          capture_output=True, text=True, timeout=60,
                          env={**os.environ, "PGPASSWORD": PASSWORDS[who]})
    if done.returncode != 0:
        raise RuntimeError(done.stderr)
    return done.stdout.strip()


# Ways a login might try to run SQL with the rights of the schema's owner:
# the change counter (which runs with them) as a trigger of a temporary
# table of its own, with a plain project column, and with a column of a
# type of its own whose assignment cast to integer the counter would run.
_COUNTED = ("CREATE TEMP TABLE t (project_id {type}); "
            "CREATE TRIGGER t_counted AFTER INSERT ON t REFERENCING NEW TABLE AS new_rows "
            "FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.count_change(); "
            "INSERT INTO t VALUES ({value})")
ATTACKS = {
    "plain trigger": _COUNTED.format(type="integer", value="{target}"),
    "type and cast": (
        "CREATE TYPE pg_temp.held AS (id integer); "
        "CREATE FUNCTION pg_temp.held_id(pg_temp.held) RETURNS integer LANGUAGE sql AS $$ "
        "UPDATE sedimetra.sur2 SET pointh = pointh + 0.05 WHERE project_id = {target}; "
        "INSERT INTO sedimetra.members VALUES ({target}, session_user, true) ON CONFLICT DO NOTHING; "
        "SELECT {target} $$; "
        "CREATE CAST (pg_temp.held AS integer) WITH FUNCTION pg_temp.held_id(pg_temp.held) AS ASSIGNMENT; "
        + _COUNTED.format(type="pg_temp.held", value="ROW({target})::pg_temp.held")),
}


# The schema as the program's first server version made it: what an
# upgrade starts from.
VERSION_1_SCHEMA = """
CREATE SCHEMA sedimetra;
CREATE TABLE sedimetra.schema_version (version integer NOT NULL);
INSERT INTO sedimetra.schema_version VALUES (1);
CREATE TABLE sedimetra.projects (id serial PRIMARY KEY, name text NOT NULL UNIQUE,
  created timestamptz NOT NULL DEFAULT now(), change_seq bigint NOT NULL DEFAULT 0);
CREATE TABLE sedimetra.header_fields (project_id integer NOT NULL REFERENCES sedimetra.projects
  ON DELETE CASCADE, name text NOT NULL, value text, PRIMARY KEY (project_id, name));
CREATE TABLE sedimetra.sur1 (project_id integer NOT NULL REFERENCES sedimetra.projects
  ON DELETE CASCADE, cjno integer NOT NULL, mydate text, name text, layers text,
  PRIMARY KEY (project_id, cjno));
CREATE TABLE sedimetra.sur2 (project_id integer NOT NULL REFERENCES sedimetra.projects
  ON DELETE CASCADE, cjno integer NOT NULL, cjdno integer NOT NULL, pointh double precision,
  PRIMARY KEY (project_id, cjno, cjdno));
CREATE INDEX sur2_point ON sedimetra.sur2 (project_id, cjdno, cjno);
CREATE TABLE sedimetra.sur3 (project_id integer NOT NULL REFERENCES sedimetra.projects
  ON DELETE CASCADE, cjdno integer NOT NULL, pointname text, aci integer, mark text,
  PRIMARY KEY (project_id, cjdno));
CREATE TABLE sedimetra.acirgb (aci_color integer PRIMARY KEY, rgb_r integer NOT NULL,
  rgb_g integer NOT NULL, rgb_b integer NOT NULL);
GRANT USAGE ON SCHEMA sedimetra TO sedimetra_read, sedimetra_write;
GRANT SELECT ON ALL TABLES IN SCHEMA sedimetra TO sedimetra_read;
GRANT sedimetra_read TO sedimetra_write;
GRANT INSERT, UPDATE, DELETE ON sedimetra.sur1, sedimetra.sur2, sedimetra.sur3,
  sedimetra.header_fields TO sedimetra_write;
GRANT INSERT, DELETE ON sedimetra.projects TO sedimetra_write;
GRANT UPDATE (change_seq) ON sedimetra.projects TO sedimetra_write;
GRANT USAGE ON SEQUENCE sedimetra.projects_id_seq TO sedimetra_write;
"""


@contextlib.contextmanager
def project_row_held(name, seconds):
    """Another session holds the project's row (FOR UPDATE) while the block
    runs, at most `seconds`; the block starts once it does."""
    holder = subprocess.Popen(
        ["psql", "-h", "127.0.0.1", "-p", str(CLUSTER.port), "-U", "admin", "-d", "firm",
         "-c", f"BEGIN; SELECT id FROM sedimetra.projects WHERE name = '{name}' FOR UPDATE; "
               f"SELECT pg_sleep({seconds}); COMMIT;"],
        env={**os.environ, "PGPASSWORD": ADMIN_PASSWORD}, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL)
    sleeping = f"query LIKE '%pg_sleep({seconds})%' AND pid <> pg_backend_pid()"
    try:
        deadline = time.time() + 30
        while CLUSTER.sql(f"SELECT count(*) FROM pg_stat_activity WHERE {sleeping} AND state = 'active'") == "0" \
                and time.time() < deadline:
            time.sleep(0.05)
        yield
    finally:
        CLUSTER.sql(f"SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE {sleeping}")
        holder.wait(timeout=30)


def main():
    def started(cluster):
        global CLUSTER
        CLUSTER = cluster
    # SEDIMETRA_SERVER_TESTS names tests to run alone (a loop over one).
    return run_tests(ADMIN_PASSWORD, "the server tests", started,
                     os.environ.get("SEDIMETRA_SERVER_TESTS", "").split())


if __name__ == "__main__":
    sys.exit(main())
