"""A PostgreSQL cluster of its own for a test: initdb and pg_ctl of Debian's
postgresql in a temporary folder, on a free port, run as an unprivileged
user when the test runs as root; the login "admin" has the password given."""
import glob
import os
import pathlib
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

# CTest's code for a test that skipped.
SKIP = 77


class Cluster:
    """A PostgreSQL cluster of its own for the tests."""

    def __init__(self, admin_password):
        self.admin_password = admin_password
        bins = sorted(glob.glob("/usr/lib/postgresql/*/bin"))
        if not bins:
            raise RuntimeError("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin)")
        self.bin = pathlib.Path(bins[-1])
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="sedimetra-pg-"))
        self.prefix = []
        if os.geteuid() == 0:
            # The server refuses to run as root.
            user = "postgres" if any(p.pw_name == "postgres" for p in pwd.getpwall()) else "nobody"
            shutil.chown(self.dir, user)
            self.prefix = ["runuser", "-u", user, "--"]
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        pwfile = self.dir / "pw"
        pwfile.write_text(self.admin_password + "\n")
        if self.prefix:
            shutil.chown(pwfile, self.prefix[2])
        self.run("initdb", "-D", self.dir / "data", "-U", "admin", f"--pwfile={pwfile}",
                 "--auth-local=trust", "--auth-host=scram-sha-256", "-E", "UTF8",
                 "--locale=C.UTF-8")
        self.run("pg_ctl", "-D", self.dir / "data", "-w", "-l", self.dir / "log", "-o",
                 f"-p {self.port} -k {self.dir} -c listen_addresses=127.0.0.1", "start")

    def run(self, tool, *args):
        done = subprocess.run([*self.prefix, str(self.bin / tool), *map(str, args)],
                              capture_output=True, text=True, timeout=120)
        if done.returncode != 0:
            raise RuntimeError(f"{tool} failed: {done.stderr.strip() or done.stdout.strip()}")
        return done.stdout

    def sql(self, statement, database="firm"):
        done = subprocess.run(["psql", "-h", "127.0.0.1", "-p", str(self.port), "-U", "admin",
                               "-d", database, "-At", "-v", "ON_ERROR_STOP=1", "-c", statement],
                              capture_output=True, text=True, timeout=60,
                              env={**os.environ, "PGPASSWORD": self.admin_password})
        if done.returncode != 0:
            raise RuntimeError(done.stderr)
        return done.stdout.strip()

    def stop(self):
        subprocess.run([*self.prefix, str(self.bin / "pg_ctl"), "-D", str(self.dir / "data"),
                        "-m", "immediate", "stop"], capture_output=True, timeout=60)
        shutil.rmtree(self.dir, ignore_errors=True)


def run_tests(admin_password, whose, started, chosen=()):
    """Runs this module's unittest cases against a cluster of their own:
    `started(cluster)` first; the tests `chosen` alone when any are named.
    A skip, said with the reason, when no server can start."""
    try:
        cluster = Cluster(admin_password)
    except (RuntimeError, OSError, subprocess.SubprocessError) as error:
        print(f"SKIP: {whose} need a PostgreSQL server, and none could start: {error}")
        return SKIP
    try:
        cluster.sql("SELECT 1", database="postgres")
        started(cluster)
        result = unittest.main(argv=sys.argv[:1] + [c for c in chosen if c], exit=False).result
        return 0 if result.wasSuccessful() else 1
    finally:
        cluster.stop()
