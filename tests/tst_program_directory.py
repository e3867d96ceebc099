#!/usr/bin/python3
"""Checks the program directory laid out by the build, read with Python's own
sqlite3 module and ezdxf's colour table rather than with the program's code.

usage: tst_program_directory.py BIN_DIR MKDB
"""
import os
import pathlib
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

BIN = pathlib.Path(sys.argv[1])
MKDB = sys.argv[2]

# Colours the program relies on: the six default point colours, black and white.
KNOWN_COLOURS = {
    1: (255, 0, 0), 3: (0, 255, 0), 4: (0, 255, 255), 5: (0, 0, 255),
    6: (255, 0, 255), 7: (255, 255, 255), 11: (255, 127, 127),
    250: (51, 51, 51), 255: (255, 255, 255),
}


def connect(path):
    return sqlite3.connect(f"file:{path}?mode=ro", uri=True)


def columns(db, table):
    return [row[1] for row in db.execute(f"PRAGMA table_info({table})")]


def unique_indexes(db, table):
    found = set()
    for _, name, unique, *_ in db.execute(f"PRAGMA index_list({table})"):
        if unique:
            found.add(tuple(r[2] for r in db.execute(f"PRAGMA index_info({name})")))
    return found


class SystemDatabase(unittest.TestCase):
    def test_settings_table(self):
        db = connect(BIN / "Sdmx.mdb")
        self.assertEqual(columns(db, "Para1"), ["Name", "Value"])
        self.assertIn(("Name",), unique_indexes(db, "Para1"))

    def test_existing_system_database_is_never_replaced(self):
        with tempfile.TemporaryDirectory() as tmp:
            sdmx = pathlib.Path(tmp) / "Sdmx.mdb"
            shutil.copy(BIN / "Sdmx.mdb", sdmx)
            with sqlite3.connect(sdmx) as db:
                db.execute("INSERT OR REPLACE INTO Para1 VALUES ('字体1', 'txt')")
            schema = pathlib.Path(__file__).resolve().parent.parent / "Support/Db/sdmx.sql"
            subprocess.run([MKDB, "--keep-existing", str(sdmx), str(schema)], check=True)
            with connect(sdmx) as db:
                self.assertEqual(db.execute("SELECT Value FROM Para1 WHERE Name='字体1'").fetchone(),
                                 ("txt",))
            # Not even a file that is no database is touched.
            sdmx.write_bytes(b"not a database")
            subprocess.run([MKDB, "--keep-existing", str(sdmx), str(schema)], check=True)
            self.assertEqual(sdmx.read_bytes(), b"not a database")


class ProjectTemplate(unittest.TestCase):
    def setUp(self):
        self.db = connect(BIN / "Support" / "Db" / "数据库模板.mdb")

    def tearDown(self):
        self.db.close()

    def test_tables_and_fields(self):
        self.assertEqual(columns(self.db, "Sur1"), ["CjNo", "MyDate", "Name", "Layers"])
        self.assertEqual(columns(self.db, "Sur2"), ["CjNo", "CjdNo", "PointH"])
        self.assertEqual(columns(self.db, "Sur3"), ["CjdNo", "PointName", "Aci", "Mark"])
        self.assertEqual(columns(self.db, "AciRgb"), ["Aci_Color", "Rgb_R", "Rgb_G", "Rgb_B"])

    def test_keys(self):
        self.assertIn(("CjNo",), unique_indexes(self.db, "Sur1"))
        self.assertIn(("CjNo", "CjdNo"), unique_indexes(self.db, "Sur2"))
        self.assertIn(("CjdNo",), unique_indexes(self.db, "Sur3"))
        with self.assertRaises(sqlite3.IntegrityError):
            scratch = sqlite3.connect(":memory:")
            self.db.backup(scratch)
            scratch.execute("INSERT INTO Sur2 VALUES (0, 1, 100.0)")
            scratch.execute("INSERT INTO Sur2 VALUES (0, 1, 99.0)")

    def test_empty_but_colours(self):
        for table in ("Sur1", "Sur2", "Sur3"):
            self.assertEqual(self.db.execute(f"SELECT COUNT(*) FROM {table}").fetchone(), (0,))
        rows = self.db.execute("SELECT Aci_Color FROM AciRgb ORDER BY Aci_Color").fetchall()
        self.assertEqual([r[0] for r in rows], list(range(256)))

    def test_known_colours(self):
        for aci, rgb in KNOWN_COLOURS.items():
            with self.subTest(aci=aci):
                self.assertEqual(self.db.execute(
                    "SELECT Rgb_R, Rgb_G, Rgb_B FROM AciRgb WHERE Aci_Color=?", (aci,)).fetchone(), rgb)

    def test_colours_match_ezdxf(self):
        from ezdxf.colors import DXF_DEFAULT_COLORS
        # ezdxf's table (0.18) carries typing slips in the darkest shades of
        # some hues (88 for 38, 126 for 76) and its own greys 250-254; those
        # entries are checked against the AutoCAD pattern instead.
        slips = {109, 119, 129, 139, 147, 149, 157, 159, 167, 169, 177, 179, 187, 189,
                 197, 199, 209, 219, 229, 239, 249}
        for aci in range(1, 250):
            if aci in slips:
                continue
            value = DXF_DEFAULT_COLORS[aci]
            expected = ((value >> 16) & 255, (value >> 8) & 255, value & 255)
            with self.subTest(aci=aci):
                self.assertEqual(self.db.execute(
                    "SELECT Rgb_R, Rgb_G, Rgb_B FROM AciRgb WHERE Aci_Color=?", (aci,)).fetchone(),
                    expected)
        for aci in slips:
            r, g, b = self.db.execute(
                "SELECT Rgb_R, Rgb_G, Rgb_B FROM AciRgb WHERE Aci_Color=?", (aci,)).fetchone()
            with self.subTest(aci=aci):
                self.assertLessEqual(max(r, g, b), 76)  # a dark shade, as its index says


class TemplateFolders(unittest.TestCase):
    def test_frame_templates_have_layout_files(self):
        folders = [p for p in (BIN / "Support" / "TK").iterdir() if p.is_dir()]
        self.assertGreaterEqual(len(folders), 1)
        for folder in folders:
            layout = folder / f"{folder.name}.ini"
            with self.subTest(folder=folder.name):
                text = layout.read_text(encoding="utf-8")
                for section in ("[沉降曲线]", "[速率曲线]", "[荷载曲线]"):
                    self.assertIn(section, text)
                for key in ("图幅大小", "基点位置", "时间轴", "曲线轴", "辅助轴", "图例位置"):
                    self.assertEqual(text.count(key + "="), 3, key)

    def test_table_template_folder(self):
        self.assertTrue((BIN / "Support" / "Tab").is_dir())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
