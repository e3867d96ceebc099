#!/usr/bin/python3
"""The web view's budgets, in Debian's headless Chromium against a throwaway
PostgreSQL cluster: a building of 50 points × 200 epochs, its page complete
(the load event) in 1 s; 概览 of 200 buildings (20 points × 30 epochs each)
in 1 s. Each figure is the median of seven loads after one to warm up, with
the server's own answer time (the HTML alone) beside it.

usage: bench_web.py BUILD_DIR   (run by hand, as the other benchmarks)
"""
import os
import pathlib
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))
sys.argv = [sys.argv[0], str(pathlib.Path(sys.argv[1]) / "bin"), str(HERE.parent)]
import tst_web as web  # noqa: E402  (the test's cluster, server and browser)
from pgcluster import Cluster  # noqa: E402

BUILD = pathlib.Path(sys.argv[1]).parent
RUNS = 7


def placed(program, project, points, prefix="J"):
    csv = project.with_suffix(".csv")
    csv.write_text("点名,东坐标,北坐标\n" + "".join(
        f"{prefix}{j},{(j - 1) % 10 * 6.0 + j * 0.11},{(j - 1) // 10 * 8.0 - j * 0.05}\n"
        for j in range(1, points + 1)), encoding="utf-8")
    run = web.batch(program, "coords", project, csv)
    assert run.returncode == 0, run.stderr


def make(program, path, points, epochs):
    subprocess.run([str(BUILD / "bench/sedimetra-make-large-project"), str(path), str(points), str(epochs)],
                   check=True, capture_output=True, timeout=600)
    placed(program, path, points)


def timed_loads(browser, address):
    browser.open(address)
    loads = []
    for _ in range(RUNS):
        browser.open(address)
        loads.append(browser.evaluate("performance.getEntriesByType('navigation')[0].loadEventEnd"))
    return statistics.median(loads)


def timed_answers(served, cookie, path):
    served.request("GET", path, cookie=cookie)
    times = []
    for _ in range(RUNS):
        started = time.perf_counter()
        status, _, _ = served.request("GET", path, cookie=cookie)
        times.append((time.perf_counter() - started) * 1000)
        assert status == 200, status
    return statistics.median(times)


def main():
    web.CLUSTER = Cluster(web.ADMIN_PASSWORD)
    root = pathlib.Path(tempfile.mkdtemp(prefix="bench-web-"))
    try:
        program = web.make_program(root)
        web.CLUSTER.sql("CREATE DATABASE firm", database="postgres")
        assert web.batch(program, "server", "init", web.url()).returncode == 0
        big = root / "大楼.mdb"
        make(program, big, 50, 200)
        assert web.batch(program, "server", "push", big, web.url("大楼")).returncode == 0
        small = root / "楼.mdb"
        make(program, small, 20, 30)
        started = time.perf_counter()
        for i in range(1, 200):
            run = web.batch(program, "server", "push", small, web.url(f"楼{i:03d}"))
            assert run.returncode == 0, run.stderr
        print(f"(199 buildings pushed in {time.perf_counter() - started:.0f} s)")
        web.login_role("staff", "sedimetra_read", None)
        served = web.Served(program, "--sessions", "8")
        browser = web.Browser(root)
        try:
            base = f"http://localhost:{served.port}"
            browser.open(base + "/login")
            browser.submit_login("staff", web.PASSWORDS["staff"])
            assert browser.evaluate("location.pathname") == "/"
            _, _, cookie = served.login("staff")
            page = timed_loads(browser, base + web.page_path("大楼"))
            page_server = timed_answers(served, cookie, web.page_path("大楼"))
            overview = timed_loads(browser, base + "/")
            overview_server = timed_answers(served, cookie, "/")
            listed = browser.evaluate("document.querySelectorAll('table.overview td.name').length")
            print(f"building 50 × 200, page complete in Chromium: {page:.0f} ms (budget 1000); "
                  f"the server's answer {page_server:.0f} ms")
            print(f"概览 of {listed} buildings, complete in Chromium: {overview:.0f} ms (budget 1000); "
                  f"the server's answer {overview_server:.0f} ms")
            print(f"serve's memory after: {served.rss_kb() / 1024:.0f} MB")
        finally:
            browser.close()
            served.stop()
    finally:
        web.CLUSTER.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
