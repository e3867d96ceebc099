#!/usr/bin/python3
"""The record on a server cannot be forged or escaped: no login reaches the
schema owner's rights through a function that runs with them, a record's key
moves only with its history, kept files are what their bytes are, rows
carried from a file are marked as carried, a reader is a reader, project
names are compared as they read, and two writers choose an epoch's place in
turn. Against a throwaway cluster of its own, as tst_server.

usage: tst_server_record.py BIN_DIR BENCH_DIR
"""
import base64
import hashlib
import json
import os
import pathlib
import re
import sqlite3
import subprocess
import sys
import tempfile
import threading
import unittest

# The helpers of the server tests; they read a third argument (their
# window test) that these tests do not use.
sys.argv += [""] * (4 - len(sys.argv))
import tst_server as server  # noqa: E402
from tst_server import ADMIN_PASSWORD, PASSWORDS, as_user, batch, url  # noqa: E402

FIXTURES = pathlib.Path(__file__).parent / "fixtures"


def sql(statement, database="firm"):
    return server.CLUSTER.sql(statement, database=database)


def login(who, role=None):
    """A login with a password of its own, member of `role` (or of none)."""
    PASSWORDS[who] = f"{who.capitalize()}-pw-9"
    member = f" IN ROLE {role}" if role else ""
    sql(f"DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '{who}') "
        f"THEN CREATE ROLE {who} LOGIN PASSWORD '{PASSWORDS[who]}'{member}; END IF; END $$")


def psql_script(who, script):
    """A whole script as one session of `who`, going on past errors; its output."""
    done = subprocess.run(["psql", "-h", "127.0.0.1", "-p", str(server.CLUSTER.port), "-U", who, "-d", "firm",
                           "-At", "-v", "ON_ERROR_STOP=0", "-f", "-"], input=script,
                          capture_output=True, text=True, timeout=120,
                          env={"PGPASSWORD": PASSWORDS[who], "PATH": "/usr/bin:/bin"})
    return done.stdout + done.stderr


def as_batch(who, *args):
    return batch(*args, password=PASSWORDS.get(who, ADMIN_PASSWORD))


class Record(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = pathlib.Path(cls.tmp.name)
        sql("DROP DATABASE IF EXISTS firm", database="postgres")
        sql("CREATE DATABASE firm", database="postgres")
        run = batch("server", "init", url())
        assert run.returncode == 0, run.stderr
        for who, role in (("wa", "sedimetra_write"), ("wb", "sedimetra_write"), ("fr", "sedimetra_read"),
                          ("ad", "sedimetra_admin"), ("ra", None), ("nr", None)):
            login(who, role)
        for who, name in (("wa", "甲"), ("wb", "乙")):
            pushed = as_batch(who, "server", "push", cls.levelled(name), url(name, user=who))
            assert pushed.returncode == 0, pushed.stderr
        granted = as_batch("ad", "server", "grant", url("甲", user="ad"), "ra", "read")
        assert granted.returncode == 0, granted.stderr
        cls.a = sql("SELECT id FROM sedimetra.projects WHERE name = '甲'")
        cls.b = sql("SELECT id FROM sedimetra.projects WHERE name = '乙'")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def levelled(cls, name):
        """A project file of four points levelled from the GSI fixture, with
        its origins and history."""
        path = cls.root / f"{name}.mdb"
        for step in (("new", path), ("points", path, "add", "BM1", "J1", "J2", "J3"),
                     ("level", FIXTURES / "loop_bm1.gsi", "--into", path, "--new-epoch", "--date", "2024-01-01",
                      "--name", "首次", "--layers", "1", "--fixed", "BM1=10"),
                     ("epoch", path, "add", "--date", "2024-06-01", "--name", "六月", "--layers", "5")):
            run = batch(*step)
            assert run.returncode == 0, run.stderr
        return path

    def project_b(self):
        """What nobody but B's writers may change: its heights, history, members and counter."""
        return (sql(f"SELECT count(*), sum(pointh) FROM sedimetra.sur2 WHERE project_id = {self.b}"),
                sql(f"SELECT count(*), max(id) FROM sedimetra.history WHERE project_id = {self.b}"),
                sql(f"SELECT string_agg(member || ':' || can_write, ',' ORDER BY member) FROM sedimetra.members "
                    f"WHERE project_id = {self.b}"),
                sql(f"SELECT change_seq FROM sedimetra.projects WHERE id = {self.b}"))

    def roles(self):
        return sql("SELECT string_agg(rolname || ':' || rolsuper || rolcreaterole || rolbypassrls, ',' "
                   "ORDER BY rolname) FROM pg_roles WHERE rolname NOT LIKE 'pg\\_%'")

    def test_definer_functions_run_nothing_a_caller_planted(self):
        definers = sql("SELECT string_agg(p.oid::regprocedure::text, ';') FROM pg_proc p "
                       "WHERE p.pronamespace = 'sedimetra'::regnamespace AND p.prosecdef").split(";")
        self.assertGreaterEqual(len(definers), 8, definers)
        # Their owner can neither log in nor change roles nor pass the row
        # rules; nobody without a role of the schema may call any of them.
        self.assertEqual(sql("SELECT DISTINCT r.rolname || ':' || r.rolsuper || r.rolcreaterole || r.rolbypassrls "
                             "|| r.rolcanlogin FROM pg_proc p JOIN pg_roles r ON r.oid = p.proowner "
                             "WHERE p.pronamespace = 'sedimetra'::regnamespace"), "sedimetra_owner:falsefalsefalsefalse")
        self.assertEqual(sql("SELECT count(*) FROM pg_proc WHERE pronamespace = 'sedimetra'::regnamespace "
                             "AND prosecdef AND has_function_privilege('nr', oid, 'EXECUTE')"), "0")
        # Each pins its search_path: no name it uses can be one a caller made.
        self.assertEqual(sql("SELECT string_agg(oid::regprocedure::text, ', ') FROM pg_proc "
                             "WHERE pronamespace = 'sedimetra'::regnamespace AND prosecdef AND NOT "
                             "coalesce(proconfig @> ARRAY['search_path=pg_catalog, pg_temp'], false)"), "")
        # Every name a definer function's body mentions, planted as a
        # temporary table whose statement trigger tries to become superuser
        # and to change project B; a temporary type with casts both ways.
        bodies = sql("SELECT string_agg(prosrc, ' ') FROM pg_proc WHERE pronamespace = 'sedimetra'::regnamespace "
                     "AND prosecdef")
        names = sorted(set(re.findall(r"\b[a-z_][a-z0-9_]*\b", bodies)))
        self.assertIn("sources", names)
        before_b, before_roles = self.project_b(), self.roles()
        evil = (
            "CREATE FUNCTION pg_temp.evil() RETURNS trigger LANGUAGE plpgsql AS $f$ BEGIN\n"
            "  BEGIN EXECUTE 'ALTER ROLE ' || quote_ident(session_user) || ' SUPERUSER'; "
            "EXCEPTION WHEN others THEN NULL; END;\n"
            f"  BEGIN UPDATE sedimetra.sur2 SET pointh = pointh + 0.5 WHERE project_id = {self.b}; "
            "EXCEPTION WHEN others THEN NULL; END;\n"
            f"  BEGIN DELETE FROM sedimetra.history WHERE project_id = {self.b}; "
            "EXCEPTION WHEN others THEN NULL; END;\n"
            f"  BEGIN INSERT INTO sedimetra.members VALUES ({self.b}, session_user, true); "
            "EXCEPTION WHEN others THEN NULL; END;\n"
            "  RETURN NULL; END $f$;\n"
            "CREATE FUNCTION pg_temp.held_text(integer) RETURNS text LANGUAGE sql AS $f$ "
            f"UPDATE sedimetra.sur2 SET pointh = pointh + 0.5 WHERE project_id = {self.b} RETURNING 'x' $f$;\n")
        for name in names:
            evil += (f'CREATE TEMP TABLE "{name}" (project_id integer, old bigint, new bigint, id bigint, '
                     f'sha256 text, data text);\n'
                     f'CREATE TRIGGER planted AFTER INSERT OR UPDATE OR DELETE ON pg_temp."{name}" '
                     f'FOR EACH STATEMENT EXECUTE FUNCTION pg_temp.evil();\n')
        evil += ("CREATE TYPE pg_temp.held AS (id integer);\n"
                 "CREATE FUNCTION pg_temp.held_id(pg_temp.held) RETURNS integer LANGUAGE sql AS $f$ "
                 f"UPDATE sedimetra.sur2 SET pointh = pointh + 0.5 WHERE project_id = {self.b} RETURNING 1 $f$;\n"
                 "CREATE CAST (pg_temp.held AS integer) WITH FUNCTION pg_temp.held_id(pg_temp.held) AS IMPLICIT;\n")
        carried = json.dumps({
            "sources": [{"id": 1, "name": "x.gsi", "sha256": "0" * 64, "size": 3, "readat": "2024-01-01T00:00:00Z",
                         "readby": "x", "data": base64.b64encode(b"abc").decode()}],
            "entries": [{"id": 1, "writtenat": "2024-01-01T00:00:00Z", "who": "x", "how": "level", "sourceid": 1}],
            "origins": [{"cjno": 99, "cjdno": 2, "entryid": 1, "line": 3}],
            "history": [{"id": 1, "entryid": 1, "writtenat": "2024-01-01T00:00:00Z", "kind": "N", "cjno": 99,
                         "newvalue": "外"}]})
        calls = (f"SELECT sedimetra.carry_provenance({self.a}, '{carried}'::pg_catalog.jsonb);\n"
                 f"SELECT sedimetra.carry_source({self.a}, '{{\"name\": \"y.gsi\"}}'::pg_catalog.jsonb, "
                 "'\\x616263'::pg_catalog.bytea);\n"
                 f"SELECT sedimetra.renumber_epochs({self.a}, 0, 1);\n"
                 f"SELECT sedimetra.renumber_epochs({self.a}, 0, -1);\n"
                 f"SELECT sedimetra.confirm_elevation({self.b}, 0, 2);\n"
                 "SELECT sedimetra.create_project('攻' || session_user);\n"
                 "SELECT sedimetra.grant_project('乙', session_user, 'write');\n"
                 "SELECT sedimetra.login_writes();\n"
                 "SELECT sedimetra.entry_for(1);\n"
                 f"UPDATE sedimetra.sur2 SET pointh = pointh WHERE project_id = {self.a};\n"
                 f"UPDATE sedimetra.sur1 SET name = name WHERE project_id = {self.a};\n"
                 f"INSERT INTO sedimetra.sur3 (project_id, cjdno, pointname) VALUES ({self.a}, 90, 'X9');\n"
                 f"DELETE FROM sedimetra.sur3 WHERE project_id = {self.a} AND cjdno = 90;\n"
                 f"INSERT INTO sedimetra.sur1 (project_id, cjno, mydate, name) VALUES ({self.a}, 98, '2024-07-01', 'X');\n"
                 f"DELETE FROM sedimetra.sur1 WHERE project_id = {self.a} AND cjno = 98;\n"
                 f"DELETE FROM sedimetra.projects WHERE id = {self.b};\n"
                 "SELECT sedimetra.remove_history();\n"
                 "SELECT sedimetra.record_additions();\n"
                 "CREATE TEMP TABLE projects_copy (id integer);\n"
                 "CREATE TRIGGER t AFTER DELETE ON pg_temp.projects_copy FOR EACH ROW "
                 "EXECUTE FUNCTION sedimetra.remove_history();\n"
                 "CREATE TRIGGER u AFTER INSERT ON pg_temp.projects_copy REFERENCING NEW TABLE AS new_rows "
                 "FOR EACH STATEMENT EXECUTE FUNCTION sedimetra.record_additions();\n")
        for who in ("wa", "ra"):
            with self.subTest(who=who):
                out = psql_script(who, evil + calls)
                if os.environ.get("SHOW"): print(out)
                self.assertNotIn("syntax error", out)
                self.assertEqual(sql(f"SELECT rolsuper FROM pg_roles WHERE rolname = '{who}'"), "f", out)
                self.assertEqual(self.project_b(), before_b, out)
                self.assertEqual(self.roles(), before_roles, out)
        # The writer's calls did what they may: the carried file's SHA-256
        # is that of its bytes.
        self.assertEqual(sql(f"SELECT sha256 FROM sedimetra.sources WHERE project_id = {self.a} AND name = 'x.gsi'"),
                         hashlib.sha256(b"abc").hexdigest())

    def test_a_reader_is_a_reader(self):
        """Each kind of login on A and B, through the program: reading is
        analysing and pulling; writing is adding an epoch."""
        def reads(who, name):
            return as_batch(who, "analyse", url(name, user=who)).returncode == 0

        def writes(who, name, day):
            return as_batch(who, "epoch", url(name, user=who), "add", "--date", f"2025-0{day}-01",
                            "--name", f"读写{who}{day}", "--layers", "2").returncode == 0

        expected = {"ad": (True, True, True, True), "wa": (True, True, False, False),
                    "ra": (True, False, False, False), "fr": (True, False, True, False),
                    "nr": (False, False, False, False)}
        for day, (who, (read_a, write_a, read_b, write_b)) in enumerate(expected.items(), start=1):
            with self.subTest(who=who):
                self.assertEqual((reads(who, "甲"), writes(who, "甲", day), reads(who, "乙"), writes(who, "乙", day)),
                                 (read_a, write_a, read_b, write_b))
        pulled = self.root / "读者拉取.mdb"
        run = as_batch("ra", "server", "pull", url("甲", user="ra"), pulled)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertTrue(pulled.exists())
        # The reader is no writer through SQL either.
        for refused in (f"UPDATE sedimetra.sur2 SET pointh = 0 WHERE project_id = {self.a}",
                        f"SELECT sedimetra.renumber_epochs({self.a}, 0, 1)",
                        f"SELECT sedimetra.carry_provenance({self.a}, '{{}}'::jsonb)"):
            before = sql(f"SELECT sum(pointh), count(*) FROM sedimetra.sur2 WHERE project_id = {self.a}")
            try:
                as_user("ra", refused)
            except RuntimeError:
                pass
            self.assertEqual(sql(f"SELECT sum(pointh), count(*) FROM sedimetra.sur2 WHERE project_id = {self.a}"),
                             before, refused)

    def test_a_confirmation_is_recorded_by_a_writer_of_the_project_alone(self):
        """An elevation confirmed as observed is a history row of the value
        stored, under the confirming login's own entry; a reader of the
        project, a writer of another, and plain SQL into the history are
        refused."""
        cell = f"project_id = {self.a} AND cjno = 0 AND cjdno = 3"
        def confirm(entry_in, project, point):
            entry = (f"INSERT INTO sedimetra.entries (project_id, how) VALUES ({entry_in}, 'typed'); "
                     if entry_in else "")
            return f"BEGIN; {entry}SELECT sedimetra.confirm_elevation({project}, 0, {point}); COMMIT;"

        history_a, history_b = (sql(f"SELECT count(*) FROM sedimetra.history WHERE project_id = {p}")
                                for p in (self.a, self.b))
        # A reader of A; writers of one project, each with an entry of its
        # own open, at the other; a cell with no elevation.
        for who, entry_in, project, point in (("ra", None, self.a, 3), ("wb", self.b, self.a, 3),
                                              ("wa", self.a, self.b, 2), ("wa", self.a, self.a, 77)):
            with self.subTest(who=who, project=project, point=point), self.assertRaises(RuntimeError):
                as_user(who, confirm(entry_in, project, point))
        with self.assertRaises(RuntimeError):
            as_user("wa", f"BEGIN; INSERT INTO sedimetra.entries (project_id, how) VALUES ({self.a}, 'typed'); "
                          f"INSERT INTO sedimetra.history (project_id, entryid, kind, cjno, cjdno, oldvalue, newvalue) "
                          f"VALUES ({self.a}, (SELECT max(id) FROM sedimetra.entries WHERE who = 'wa'), 'C', 0, 3, "
                          f"'1', '1'); COMMIT;")
        self.assertEqual(sql(f"SELECT count(*) FROM sedimetra.history WHERE project_id = {self.a}"), history_a)
        self.assertEqual(sql(f"SELECT count(*) FROM sedimetra.history WHERE project_id = {self.b}"), history_b)
        as_user("wa", confirm(self.a, self.a, 3))
        row = sql(f"SELECT h.oldvalue || '|' || h.newvalue || '|' || e.who "
                  f"FROM sedimetra.history h JOIN sedimetra.entries e ON e.id = h.entryid "
                  f"WHERE h.{cell.replace(' AND ', ' AND h.')} AND h.kind = 'C'")
        stored = sql(f"SELECT pointh::text FROM sedimetra.sur2 WHERE {cell}")
        self.assertEqual(row, f"{stored}|{stored}|wa")
        shown = json.loads(as_batch("wa", "history", url("甲", user="wa"), "--format", "json").stdout)
        self.assertIn("C", [r["kind"] for r in shown["history"]])
        check = as_batch("wa", "verify", url("甲", user="wa"))
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_an_upgrade_never_chains_a_changed_history_anew(self):
        """A history row changed outside the program stays a break through
        a schema upgrade: only a history never chained is chained then."""
        row = sql(f"SELECT min(id) FROM sedimetra.history WHERE project_id = {self.b} AND kind = 'H' "
                  "AND oldvalue IS NULL")
        # What was there before the first value: only the chain tells.
        sql(f"UPDATE sedimetra.history SET oldvalue = '1.5' WHERE id = {row}")
        try:
            self.assertEqual(as_batch("wb", "verify", url("乙", user="wb")).returncode, 1)
            sql("UPDATE sedimetra.schema_version SET version = 6")
            upgraded = batch("server", "init", url())
            self.assertEqual(upgraded.returncode, 0, upgraded.stderr)
            self.assertIn("从第 6 版升级到第 7 版", upgraded.stdout)
            check = as_batch("wb", "verify", url("乙", user="wb"))
            self.assertEqual(check.returncode, 1, check.stdout)
            self.assertIn(f"修改记录第 {row} 条与记录链不符", check.stdout)
        finally:
            sql(f"UPDATE sedimetra.history SET oldvalue = NULL WHERE id = {row}")

    def test_keys_move_only_with_their_history(self):
        key = f"project_id = {self.a}"
        for refused in (f"UPDATE sedimetra.sur2 SET cjdno = 9999, pointh = pointh + 0.1 WHERE {key} AND cjdno = 2",
                        f"UPDATE sedimetra.sur1 SET cjno = 1 - cjno WHERE {key} AND cjno IN (0, 1)",
                        f"UPDATE sedimetra.sur3 SET cjdno = 5 - cjdno WHERE {key} AND cjdno IN (2, 3)",
                        f"UPDATE sedimetra.origins SET line = 99, adjusted = 1 WHERE {key}",
                        f"INSERT INTO sedimetra.origins VALUES ({self.a}, 1, 3, NULL, 7)"):
            with self.subTest(refused=refused), self.assertRaises(RuntimeError):
                as_user("wa", refused)
        # An origin rewritten under the writer's own entry goes through, and
        # what it said before is kept in the history.
        j1 = f"project_id = {self.a} AND cjno = 0 AND cjdno = 2"
        as_user("wa", f"BEGIN; INSERT INTO sedimetra.entries (project_id, how) VALUES ({self.a}, 'level'); "
                      f"UPDATE sedimetra.origins SET line = 99, entryid = (SELECT max(id) FROM sedimetra.entries "
                      f"WHERE project_id = {self.a} AND who = 'wa') WHERE {j1}; COMMIT;")
        kept = sql(f"SELECT oldvalue || ' > ' || newvalue FROM sedimetra.history WHERE {j1} AND kind = 'O' "
                   "ORDER BY id DESC LIMIT 1")
        self.assertIn("line 8", kept.split(" > ")[0])
        self.assertIn("line 99", kept.split(" > ")[1])
        # The program's own renumbering: an epoch dated between the two.
        added = as_batch("wa", "epoch", url("甲", user="wa"), "add", "--date", "2024-03-01", "--name", "三月",
                         "--layers", "3")
        self.assertEqual(added.returncode, 0, added.stderr)
        self.assertIn("按日期插入", added.stdout)
        shown = json.loads(as_batch("wa", "history", url("甲", user="wa"), "--format", "json").stdout)
        renumbered = [r for r in shown["history"] if r["kind"] == "R"]
        self.assertEqual([(r["old"], r["new"], r["who"]) for r in renumbered][-1:], [("1", "2", "wa")])
        dates = sql(f"SELECT string_agg(mydate, ',' ORDER BY cjno) FROM sedimetra.sur1 WHERE {key}")
        self.assertEqual(dates.split(","), sorted(dates.split(",")))
        check = as_batch("wa", "verify", url("甲", user="wa"))
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_carried_rows_are_marked_and_name_no_entry_of_this_session(self):
        forged = json.dumps({
            "entries": [{"id": 7, "writtenat": "2019-03-01T08:00:00Z", "who": "张总工(监理)", "how": "typed"},
                        {"id": 8, "writtenat": "2019-03-02T08:00:00Z", "who": "业主代表", "how": "undo"}],
            "history": [{"id": 1, "entryid": 7, "writtenat": "2019-03-01T08:00:00Z", "kind": "H", "cjno": 0,
                         "cjdno": 3, "oldvalue": "9.7", "newvalue": "9.7995"}]})
        cell = f"project_id = {self.a} AND cjno = 0 AND cjdno = 3"
        as_user("wa", f"BEGIN; SELECT sedimetra.carry_provenance({self.a}, '{forged}'::jsonb); "
                      "SELECT set_config('sedimetra.entry', (SELECT max(id) FROM sedimetra.entries "
                      f"WHERE project_id = {self.a} AND who = '业主代表')::text, true); "
                      f"UPDATE sedimetra.sur2 SET pointh = pointh - 0.2 WHERE {cell}; COMMIT;")
        last = sql("SELECT e.who || '|' || e.how || '|' || coalesce(e.carriedby, '') FROM sedimetra.history h "
                   "JOIN sedimetra.entries e ON e.project_id = h.project_id AND e.id = h.entryid "
                   f"WHERE h.{cell} ORDER BY h.id DESC LIMIT 1")
        self.assertEqual(last, "wa|sql|")
        shown = as_batch("fr", "history", url("甲", user="fr"), "--epoch", "0", "--point", "J2", "--format", "json")
        rows = json.loads(shown.stdout)["history"]
        dated_2019 = [r for r in rows if r["at"].startswith("2019")]
        self.assertEqual([(r["who"], r.get("carried_by")) for r in dated_2019], [("张总工(监理)", "wa")])
        self.assertTrue(all(r.get("carried_by") == "wa" or r["who"] != "张总工(监理)" for r in rows))
        text = as_batch("fr", "history", url("甲", user="fr"), "--epoch", "0", "--point", "J2").stdout
        self.assertIn("由文件带入，推送者 wa", text)
        # A kept file inserted with another file's SHA-256 keeps its own.
        as_user("wa", f"INSERT INTO sedimetra.sources (project_id, name, sha256, size, data) "
                      f"VALUES ({self.a}, '伪.gsi', '{'1' * 64}', 1, 'real bytes'::bytea)")
        self.assertEqual(sql(f"SELECT sha256 || ' ' || size FROM sedimetra.sources WHERE project_id = {self.a} "
                             "AND name = '伪.gsi'"), hashlib.sha256(b"real bytes").hexdigest() + " 10")

    def test_history_altered_on_the_server_is_found(self):
        check = as_batch("fr", "verify", url("乙", user="fr"))
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        head = re.search(r"记录链末值 ([0-9a-f]{64})", check.stdout).group(1)
        self.assertEqual(head, sql(f"SELECT hash FROM sedimetra.history WHERE project_id = {self.b} "
                                   "ORDER BY id DESC LIMIT 1"))
        # Only a superuser can do this; the chain and the values say so.
        victim = sql(f"SELECT min(id) FROM sedimetra.history WHERE project_id = {self.b} AND kind = 'H'")
        sql(f"BEGIN; ALTER TABLE sedimetra.sur2 DISABLE TRIGGER USER; "
            f"UPDATE sedimetra.history SET newvalue = '10.5' WHERE project_id = {self.b} AND id = {victim}; "
            f"UPDATE sedimetra.sur2 SET pointh = 10.5 WHERE project_id = {self.b} AND cjno = 0 AND cjdno = 1; "
            "ALTER TABLE sedimetra.sur2 ENABLE TRIGGER USER; COMMIT;")
        check = as_batch("fr", "verify", url("乙", user="fr"))
        self.assertEqual(check.returncode, 1, check.stdout + check.stderr)
        self.assertIn(f"修改记录第 {victim} 条与记录链不符", check.stdout)

    def test_a_removed_project_takes_its_history_and_no_other(self):
        project = self.levelled("拆除")
        self.assertEqual(as_batch("wa", "server", "push", project, url("拆除", user="wa")).returncode, 0)
        pid = sql("SELECT id FROM sedimetra.projects WHERE name = '拆除'")
        self.assertGreater(int(sql(f"SELECT count(*) FROM sedimetra.history WHERE project_id = {pid}")), 0)
        before_b = self.project_b()
        server.as_user("ad", f"DELETE FROM sedimetra.projects WHERE id = {pid}")
        self.assertEqual(sql(f"SELECT count(*) FROM sedimetra.history WHERE project_id = {pid}"), "0")
        self.assertEqual(sql(f"SELECT count(*) FROM sedimetra.entries WHERE project_id = {pid}"), "0")
        self.assertEqual(self.project_b(), before_b)

    def test_project_names_are_compared_as_they_read(self):
        base = self.levelled("名")
        self.assertEqual(as_batch("wa", "server", "push", base, url("Alpha楼", user="wa")).returncode, 0)
        for name in ("Alpha楼 ", "Ａｌｐｈａ楼"):
            with self.subTest(name=name):
                again = as_batch("wa", "server", "push", base, url(name, user="wa"))
                self.assertEqual(again.returncode, 1, again.stdout)
                self.assertEqual(sql("SELECT count(*) FROM sedimetra.projects WHERE name LIKE '%楼'"), "1")
        for name in ("Αlpha楼", "Alpha\u200b楼", "Аlpha楼"):
            with self.subTest(name=name):
                pushed = as_batch("wa", "server", "push", base, url(name, user="wa"))
                self.assertEqual(pushed.returncode, 1, pushed.stdout)
                self.assertIn("这个名称不能使用", pushed.stderr)
        self.assertEqual(sql("SELECT count(*) FROM sedimetra.projects WHERE name LIKE '%lpha%'"), "1")

    def test_a_replace_keeps_one_history(self):
        """Pushed again over itself, a project gains no history; pushed
        with one more epoch, it gains that epoch's rows and nothing is
        recorded as deleted."""
        project = self.levelled("替换")
        self.assertEqual(as_batch("wa", "server", "push", project, url("替换", user="wa")).returncode, 0)
        pid = sql("SELECT id FROM sedimetra.projects WHERE name = '替换'")
        rows = f"SELECT count(*) FROM sedimetra.history WHERE project_id = {pid}"
        deletions = rows + " AND newvalue IS NULL AND oldvalue IS NOT NULL"
        first = int(sql(rows))
        again = as_batch("wa", "server", "push", project, url("替换", user="wa"), "--replace")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(int(sql(rows)), first)
        self.assertEqual(sql(deletions), "0")
        self.assertEqual(batch("epoch", project, "add", "--date", "2024-09-01", "--name", "九月",
                               "--layers", "7").returncode, 0)
        again = as_batch("wa", "server", "push", project, url("替换", user="wa"), "--replace")
        self.assertEqual(again.returncode, 0, again.stderr)
        # The epoch's date, name and floors: as the file recorded them, and as the server saw them arrive.
        self.assertEqual(int(sql(rows)), first + 6)
        self.assertEqual(sql(deletions), "0")
        check = as_batch("wa", "verify", url("替换", user="wa"))
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_an_administrator_who_is_no_superuser_makes_the_schema(self):
        """A firm's database administrator (CREATEROLE, owner of the
        database, no superuser) makes and renews the schema; its objects
        are the owner role's, never the administrator's."""
        login("dba", None)
        sql("ALTER ROLE dba CREATEROLE")
        sql("DROP DATABASE IF EXISTS firm_dba", database="postgres")
        sql("CREATE DATABASE firm_dba OWNER dba", database="postgres")
        address = url(user="dba").replace("/firm", "/firm_dba")
        for _ in range(2):
            made = as_batch("dba", "server", "init", address)
            self.assertEqual(made.returncode, 0, made.stderr)
        owners = sql("SELECT string_agg(DISTINCT pg_get_userbyid(relowner), ',') FROM pg_class "
                     "WHERE relnamespace IN ('sedimetra'::regnamespace, 'sedimetra_project'::regnamespace)",
                     database="firm_dba")
        self.assertEqual(owners, "sedimetra_owner")
        pushed = as_batch("wa", "server", "push", self.levelled("管理"), url("管理", user="wa").replace(
            "/firm", "/firm_dba"))
        self.assertEqual(pushed.returncode, 0, pushed.stderr)

    def test_kept_files_at_their_limit_are_pushed_in_bounded_memory(self):
        """Four kept files of 50 MB (the most a project keeps of one file)
        reach the server whole, each with its own SHA-256, while the push
        holds far less than their sum."""
        project = self.root / "大文件.mdb"
        for step in (("new", project), ("points", project, "add", "J1"),
                     ("epoch", project, "add", "--date", "2024-01-01", "--name", "A", "--layers", "1")):
            self.assertEqual(batch(*step).returncode, 0)
        digests = {}
        with sqlite3.connect(project) as db:
            for i in range(4):
                data = os.urandom(50 * 1024 * 1024)
                digests[f"水准{i}.gsi"] = hashlib.sha256(data).hexdigest()
                db.execute("INSERT INTO Sources (Name, Sha256, Size, ReadAt, ReadBy, Data) VALUES (?, ?, ?, ?, ?, ?)",
                           (f"水准{i}.gsi", digests[f"水准{i}.gsi"], len(data), "2024-01-01T00:00:00Z", "wa", data))
                del data
        env = {**os.environ, "PGPASSWORD": PASSWORDS["wa"]}
        push = subprocess.Popen([str(server.BIN / "sedimetra-batch"), "server", "push", str(project),
                                 url("大文件", user="wa")], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        _, status, usage = os.wait4(push.pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0, push.stderr.read().decode())
        self.assertLess(usage.ru_maxrss, 400 * 1024)  # KiB: well under the 200 MB of files
        kept = sql("SELECT string_agg(s.name || '=' || s.sha256 || ':' || (s.sha256 = encode(sha256(s.data), 'hex')), "
                   "',' ORDER BY s.name) FROM sedimetra.sources s JOIN sedimetra.projects p ON p.id = s.project_id "
                   "WHERE p.name = '大文件'")
        self.assertEqual(kept, ",".join(f"{name}={digest}:true" for name, digest in sorted(digests.items())))

    def test_two_writers_choose_epoch_places_in_turn(self):
        """Two programs add an epoch dated before the last at once: both
        land, in date order, and the history stays one chain."""
        project = self.levelled("并行")
        self.assertEqual(as_batch("wa", "server", "push", project, url("并行", user="wa")).returncode, 0)
        for round_ in range(4):
            days = (f"2024-0{2 + round_}-10", f"2024-0{2 + round_}-20")
            results = {}

            def add(day):
                results[day] = as_batch("wa", "epoch", url("并行", user="wa"), "add", "--date", day,
                                        "--name", "并" + day, "--layers", "2")
            threads = [threading.Thread(target=add, args=(day,)) for day in days]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            for day in days:
                self.assertEqual(results[day].returncode, 0, results[day].stderr)
        listed = json.loads(as_batch("wa", "epoch", url("并行", user="wa"), "list", "--format", "json").stdout)
        dates = [e["date"] for e in listed]
        self.assertEqual(dates, sorted(dates))
        self.assertEqual(len(dates), 10)
        check = as_batch("wa", "verify", url("并行", user="wa"))
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)


def main():
    def started(cluster):
        server.CLUSTER = cluster
    return server.run_tests(server.ADMIN_PASSWORD, "the server tests", started, sys.argv[3:])


if __name__ == "__main__":
    sys.exit(main())
