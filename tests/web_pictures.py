#!/usr/bin/python3
"""The user guide's pictures of the web view: the sample project pushed to a
throwaway PostgreSQL cluster, `sedimetra-batch serve` on loopback, a client
login granted that one building, and Debian's headless Chromium logging in
through the form and picturing 概览 and the building's page (desktop and
phone). Run by scripts/screenshots.sh.

usage: web_pictures.py BIN_DIR SAMPLE.mdb OUT_DIR
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import urllib.parse

BIN, SAMPLE, OUT = (pathlib.Path(a).resolve() for a in sys.argv[1:4])
# The web test's server and browser drivers read their program from argv.
sys.argv[1:] = [str(BIN), str(pathlib.Path(__file__).resolve().parent.parent)]
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import tst_web as web  # noqa: E402
from pgcluster import Cluster  # noqa: E402

BUILDING = "示例住宅楼1号楼"
CLIENT, CLIENT_PASSWORD = "client_a", "Client-a-pw-9"


def batch(*args):
    done = subprocess.run([str(BIN / "sedimetra-batch"), *map(str, args)], capture_output=True, text=True,
                          timeout=300, env={**os.environ, "PGPASSWORD": web.ADMIN_PASSWORD})
    if done.returncode != 0:
        raise RuntimeError(f"sedimetra-batch {args[0]}: {done.stderr}")


def main():
    web.CLUSTER = cluster = Cluster(web.ADMIN_PASSWORD)
    served = browser = None
    try:
        cluster.sql("CREATE DATABASE firm", database="postgres")
        base = f"postgresql://admin@127.0.0.1:{cluster.port}/firm"
        batch("server", "init", base)
        project = base + "?project=" + urllib.parse.quote(BUILDING)
        batch("server", "push", SAMPLE, project)
        cluster.sql(f"CREATE ROLE {CLIENT} LOGIN PASSWORD '{CLIENT_PASSWORD}'")
        batch("server", "grant", project, CLIENT, "read")
        served = web.Served(BIN)
        with tempfile.TemporaryDirectory() as tmp:
            browser = web.Browser(pathlib.Path(tmp))
            address = f"http://127.0.0.1:{served.port}"
            browser.open(address + "/login")
            browser.submit_login(CLIENT, CLIENT_PASSWORD)
            OUT.mkdir(parents=True, exist_ok=True)
            browser.screenshot(OUT / "web-overview.png", 1180, 420, False)
            browser.open(address + web.page_path(BUILDING))
            browser.screenshot(OUT / "web-building.png", 1180, 900, False)
            browser.screenshot(OUT / "web-building-phone.png", 390, 844, True)
            browser.close()
            browser = None
        for name in ("web-overview", "web-building", "web-building-phone"):
            print(OUT / f"{name}.png")
    finally:
        if browser:
            browser.close()
        if served:
            served.stop()
        cluster.stop()


if __name__ == "__main__":
    main()
