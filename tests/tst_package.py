#!/usr/bin/python3
"""The Debian package: built with CPack from this build, unpacked with
dpkg-deb -x into a scratch root, its menu entry and metainfo validated, and
the unpacked programs run as an ordinary user (nobody) with a scratch HOME:
sedimetra-batch writes a table and curve sheets, the window starts on the
offscreen platform, the user's settings land in that HOME and nothing is
written in the unpacked tree. Skipped, with the reason, where the tools or
root (to run as another user) are missing.

usage: tst_package.py BUILD_DIR
"""
import os
import pathlib
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

BUILD = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else None


def missing():
    for tool in ("cpack", "dpkg-deb", "runuser", "desktop-file-validate", "appstreamcli"):
        if shutil.which(tool) is None:
            return f"{tool} is not installed"
    if os.geteuid() != 0:
        return "running the package as another user needs root"
    return None


def tree_state(root):
    return {str(p): p.stat().st_mtime_ns for p in root.rglob("*")}


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.scratch = pathlib.Path(cls.tmp.name)
        os.chmod(cls.scratch, 0o755)
        made = subprocess.run(["cpack", "-G", "DEB", "-B", str(cls.scratch / "out")], cwd=BUILD,
                              capture_output=True, text=True, timeout=600)
        assert made.returncode == 0, made.stdout + made.stderr
        cls.deb = next((cls.scratch / "out").glob("sedimetra_*.deb"))
        cls.root = cls.scratch / "root"
        subprocess.run(["dpkg-deb", "-x", str(cls.deb), str(cls.root)], check=True)
        subprocess.run(["chmod", "-R", "a+rX", str(cls.root)], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def as_nobody(self, home, *command, env=None, **kwargs):
        variables = {"HOME": str(home), "PATH": "/usr/bin:/bin", **(env or {})}
        return subprocess.run(["runuser", "-u", "nobody", "--", "env", "-i",
                               *(f"{k}={v}" for k, v in variables.items()), *map(str, command)],
                              capture_output=True, text=True, **kwargs)

    def user_home(self, name):
        home = self.scratch / name
        home.mkdir()
        shutil.chown(home, "nobody")
        return home

    def test_contents_and_dependencies(self):
        for path in ("usr/bin/sedimetra", "usr/bin/sedimetra-batch", "usr/bin/sedimetra-xlsreader",
                     "usr/share/sedimetra/Sdmx.mdb", "usr/share/sedimetra/Support/Db/数据库模板.mdb",
                     "usr/share/applications/sedimetra.desktop",
                     "usr/share/icons/hicolor/scalable/apps/sedimetra.svg",
                     "usr/share/metainfo/org.sedimetra.Sedimetra.metainfo.xml"):
            self.assertTrue((self.root / path).exists(), path)
        depends = subprocess.run(["dpkg-deb", "-f", str(self.deb), "Depends"], capture_output=True,
                                 text=True, check=True).stdout
        for package in ("libqt6widgets6", "libqt6sql6-sqlite", "libqt6sql6-psql", "fonts-wqy-microhei"):
            self.assertIn(package, depends)
        desktop = subprocess.run(["desktop-file-validate", str(self.root / "usr/share/applications/sedimetra.desktop")],
                                 capture_output=True, text=True)
        self.assertEqual(desktop.returncode, 0, desktop.stdout + desktop.stderr)
        metainfo = subprocess.run(["appstreamcli", "validate", "--no-net",
                                   str(self.root / "usr/share/metainfo/org.sedimetra.Sedimetra.metainfo.xml")],
                                  capture_output=True, text=True)
        self.assertEqual(metainfo.returncode, 0, metainfo.stdout + metainfo.stderr)

    def test_an_ordinary_user_runs_it_and_keeps_the_settings(self):
        home = self.user_home("surveyor")
        work = home / "projects"
        work.mkdir()
        project = work / "楼.mdb"
        shutil.copy(self.root / "usr/share/sedimetra/Support/Db/数据库模板.mdb", project)
        with sqlite3.connect(project) as db:
            db.execute("INSERT INTO Sur1 VALUES (0, '2024-01-01', 'A', '2')")
            db.execute("INSERT INTO Sur1 VALUES (1, '2024-02-01', 'B', '4')")
            db.execute("INSERT INTO Sur3 VALUES (1, 'J1', 1, '圆形')")
            db.executemany("INSERT INTO Sur2 VALUES (?, 1, ?)", [(0, 20.0), (1, 19.995)])
        subprocess.run(["chown", "-R", "nobody", str(work)], check=True)
        before = tree_state(self.root)
        batch = self.root / "usr/bin/sedimetra-batch"
        table = self.as_nobody(home, batch, "table", project, "--out", work / "楼.xlsx", timeout=120)
        self.assertEqual(table.returncode, 0, table.stderr)
        curves = self.as_nobody(home, batch, "curves", project, "--kind", "settlement", "--out",
                                work / "楼.dxf", timeout=120)
        self.assertEqual(curves.returncode, 0, curves.stderr)
        self.assertTrue((work / "楼.xlsx").is_file() and (work / "楼.dxf").is_file())
        # A frame template of the user's own, in their data folder.
        own = home / ".local/share/sedimetra/Support/TK/MINE"
        shutil.copytree(self.root / "usr/share/sedimetra/Support/TK/A3", own)
        (own / "A3.ini").rename(own / "MINE.ini")
        subprocess.run(["chown", "-R", "nobody", str(own)], check=True)
        mine = self.as_nobody(home, batch, "curves", project, "--kind", "settlement", "--frame", "MINE",
                              "--out", work / "自己.dxf", timeout=120)
        self.assertEqual(mine.returncode, 0, mine.stderr)
        self.assertTrue((work / "自己.dxf").is_file())
        settings = home / ".local/share/sedimetra/Sdmx.mdb"
        self.assertTrue(settings.is_file())
        self.assertEqual(settings.stat().st_uid, pwd_uid("nobody"))
        # The window starts for that user and stays up.
        window = subprocess.Popen(["runuser", "-u", "nobody", "--", "env", "-i", f"HOME={home}",
                                   "PATH=/usr/bin:/bin", "QT_QPA_PLATFORM=offscreen",
                                   str(self.root / "usr/bin/sedimetra")],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                  start_new_session=True)
        time.sleep(3)
        alive = window.poll() is None
        # The program runs under runuser: the whole group goes.
        os.killpg(window.pid, signal.SIGKILL)
        _, errors = window.communicate(timeout=30)
        self.assertTrue(alive, errors)
        self.assertEqual(tree_state(self.root), before, "the program wrote in its installed tree")


def pwd_uid(name):
    import pwd
    return pwd.getpwnam(name).pw_uid


if __name__ == "__main__":
    why = missing()
    if BUILD is None or why:
        print(f"SKIP: {why or 'no build folder given'}")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1])
