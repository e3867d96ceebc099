#!/usr/bin/python3
"""The read-only web view against a real server: a throwaway PostgreSQL
cluster, `sedimetra-batch serve` on loopback, and Debian's headless
Chromium driven over its DevTools pipe. A client of building A logs in
through the form and sees A, never B; the figures on A's page equal A's
PDF report (pdftotext) and workbook (openpyxl); every role asks for every
building and for buildings that do not exist, and "not yours" reads as
"not there"; sessions end as they should; hostile requests leave the
server bounded and answering; and nginx in front gives TLS and the headers.

usage: tst_web.py BIN_DIR SOURCE_DIR
"""
import base64
import http.client
import io
import json
import os
import pathlib
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import zipfile

import openpyxl

import tst_report as report
from pgcluster import run_tests

BIN = pathlib.Path(sys.argv[1])
SOURCE = pathlib.Path(sys.argv[2])
ADMIN_PASSWORD = "Adm1n-Pw-7q"
A, B = "滨江花园A座", "江畔<B>&座"
A_POINTS, B_POINTS, EPOCHS = 12, 6, 20
FIELDS = {"工程名称": "滨江花园 A 座", "结构形式": "框架结构", "建筑高度": "45", "累计沉降预警值": "7"}
CLUSTER = None
PASSWORDS = {"admin": ADMIN_PASSWORD}
HEADERS = {"content-security-policy", "x-content-type-options", "referrer-policy"}


# The report's test project, its program directory and its days.
elevation, date, make_program = report.elevation, report.date, report.make_program


def make_project(path, prefix, points, fields):
    # Built up to ten floors by the ninth epoch, then under constant load:
    # the forecasts are made from there.
    return report.make_project(path, True, points, EPOCHS, prefix=prefix, fields=fields,
                               floors=lambda k: min(2 + k, 10), heading="点名,东坐标,北坐标\n")


def url(project=None):
    base = f"postgresql://admin@127.0.0.1:{CLUSTER.port}/firm"
    return base + (f"?project={urllib.parse.quote(project)}" if project else "")


def batch(program, *args, password=ADMIN_PASSWORD):
    env = {**os.environ, "PGPASSWORD": password}
    return subprocess.run([str(program / "sedimetra-batch"), *map(str, args)], capture_output=True, text=True,
                          timeout=300, env=env)


def login_role(who, role, rights):
    PASSWORDS[who] = f"{who.capitalize()}-pw-9"
    CLUSTER.sql(f"CREATE ROLE {who} LOGIN PASSWORD '{PASSWORDS[who]}'" + (f" IN ROLE {role}" if role else ""))


def html_escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def html_unescape(text):
    return (text.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", '"').replace("&#39;", "'")
            .replace("&amp;", "&"))


def readable_bytes(body, part):
    """A response as text a reader would find names in: a PDF's text, a
    workbook's parts unzipped, a page or JSON as it is."""
    if part == "/report.pdf":
        return subprocess.run(["pdftotext", "-", "-"], input=body, capture_output=True, check=True).stdout.decode()
    if part == "/results.xlsx":
        with zipfile.ZipFile(io.BytesIO(body)) as book:
            return "".join(book.read(entry).decode("utf-8", "replace") for entry in book.namelist())
    text = body.decode()
    return json.dumps(json.loads(text), ensure_ascii=False) if part == "/data.json" else text


class Served:
    """`sedimetra-batch serve` on a free loopback port."""

    def __init__(self, program, *options):
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [str(program / "sedimetra-batch"), "serve", f"postgresql://127.0.0.1:{CLUSTER.port}/firm",
             "--listen", "127.0.0.1:0", *options],
            stdout=subprocess.PIPE, stderr=self.log, text=True,
            env={k: v for k, v in os.environ.items() if k != "PGPASSWORD"})
        line = self.process.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        if not match:
            self.process.kill()
            self.process.wait()
            self.log.seek(0)
            raise RuntimeError(f"serve did not start: {line}{self.log.read().decode()}")
        self.port = int(match.group(1))

    def request(self, method, path, body=None, headers=None, cookie=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=120)
        headers = dict(headers or {})
        if cookie:
            headers["Cookie"] = f"__Host-sedimetra={cookie}"
        if body is not None and "Content-Type" not in headers:
            headers["Content-Type"] = "application/x-www-form-urlencoded"
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response.status, {k.lower(): v for k, v in response.getheaders()}, data

    def login(self, who, password=None):
        form = urllib.parse.urlencode({"user": who, "password": password or PASSWORDS[who]})
        status, headers, _ = self.request("POST", "/login", form)
        cookie = re.search(r"__Host-sedimetra=([0-9a-f]+)", headers.get("set-cookie", ""))
        return status, headers, cookie.group(1) if cookie else None

    def rss_kb(self):
        for line in pathlib.Path(f"/proc/{self.process.pid}/status").read_text().splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
        return 0

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        self.log.close()


def page_path(name, part=""):
    return "/projects/" + urllib.parse.quote(name, safe="") + part


class Browser:
    """Headless Chromium over its DevTools pipe (file descriptors 3 and 4):
    no websocket library, no third-party driver."""

    def __init__(self, root):
        chromium = shutil.which("chromium")
        if not chromium:
            raise unittest.SkipTest("Debian's chromium is not installed")
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()

        def descriptors():
            read, write = os.dup(to_browser_r), os.dup(from_browser_w)
            os.dup2(read, 3)
            os.dup2(write, 4)

        self.process = subprocess.Popen(
            [chromium, "--headless=new", "--remote-debugging-pipe", "--no-sandbox", "--disable-gpu",
             "--no-first-run", "--no-default-browser-check", "--ignore-certificate-errors",
             f"--user-data-dir={root / 'chromium'}", "about:blank"],
            pass_fds=(3, 4), preexec_fn=descriptors, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        self.call("Page.enable", session=True)

    def _receive(self, timeout=60):
        deadline = time.time() + timeout
        while b"\0" not in self.buffer:
            if time.time() > deadline:
                raise TimeoutError("the browser did not answer")
            chunk = os.read(self.from_browser, 1 << 16)
            if not chunk:
                raise RuntimeError("the browser closed its pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=False):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            answer = self._receive()
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer.get("result", {})
            self.events.append(answer)

    def wait_for(self, event, timeout=60):
        deadline = time.time() + timeout
        while True:
            for i, message in enumerate(self.events):
                if message.get("method") == event:
                    del self.events[i]
                    return message
            if time.time() > deadline:
                raise TimeoutError(event)
            self.events.append(self._receive(timeout=max(1, deadline - time.time())))

    def open(self, address):
        self.events.clear()
        self.call("Page.navigate", {"url": address}, session=True)
        self.wait_for("Page.loadEventFired")

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session=True)
        if "exceptionDetails" in result:
            raise RuntimeError(result["exceptionDetails"])
        return result["result"].get("value")

    def submit_login(self, who, password):
        self.events.clear()
        self.evaluate(f"document.querySelector('input[name=user]').value = {json.dumps(who)};"
                      f"document.querySelector('input[name=password]').value = {json.dumps(password)};"
                      "document.querySelector('form').submit(); true")
        self.wait_for("Page.loadEventFired")

    def screenshot(self, path, width, height, mobile):
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile}, session=True)
        shot = self.call("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": False}, session=True)
        path.write_bytes(base64.b64decode(shot["data"]))

    def close(self):
        try:
            self.call("Browser.close")
        except (RuntimeError, OSError, TimeoutError):
            pass
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)


class WebView(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = pathlib.Path(cls.tmp.name)
        cls.program = make_program(cls.root)
        CLUSTER.sql("CREATE DATABASE firm", database="postgres")
        run = batch(cls.program, "server", "init", url())
        assert run.returncode == 0, run.stderr
        for name, prefix, points, fields in ((A, "S", A_POINTS, FIELDS),
                                             (B, "乙", B_POINTS, {"工程名称": "江畔 B 座"})):
            file = cls.root / f"{prefix}.mdb"
            csv = make_project(file, prefix, points, fields)
            run = batch(cls.program, "coords", file, csv)
            assert run.returncode == 0, run.stderr
            run = batch(cls.program, "server", "push", file, url(name))
            assert run.returncode == 0, run.stderr
        # Clients are logins of no group of the firm's: they read what
        # they are granted. The firm's staff (sedimetra_read) read all.
        login_role("writera", "sedimetra_write", None)
        login_role("readera", None, None)
        login_role("readerb", None, None)
        login_role("readerc", None, None)
        login_role("staff", "sedimetra_read", None)
        login_role("nobody", None, None)
        for who, name, rights in (("writera", A, "write"), ("readera", A, "read"), ("readerb", B, "read")):
            run = batch(cls.program, "server", "grant", url(name), who, rights)
            assert run.returncode == 0, run.stderr
        cls.served = Served(cls.program, "--sessions", "200")

    @classmethod
    def tearDownClass(cls):
        cls.served.stop()
        cls.tmp.cleanup()

    def assertHeaders(self, headers):
        for header in HEADERS:
            self.assertIn(header, headers)
        self.assertIn("frame-ancestors 'none'", headers["content-security-policy"])
        self.assertNotIn("unsafe-inline", headers["content-security-policy"])
        self.assertEqual(headers["x-content-type-options"], "nosniff")
        self.assertEqual(headers["referrer-policy"], "no-referrer")

    def session(self, who):
        status, _, cookie = self.served.login(who)
        self.assertEqual(status, 303, who)
        self.assertTrue(cookie)
        return cookie

    def download(self, cookie, name, part):
        status, headers, body = self.served.request("GET", page_path(name, part), cookie=cookie)
        self.assertEqual(status, 200, body[:300])
        return headers, body

    def test_a_client_sees_their_building_as_the_report_says(self):
        browser = Browser(self.root)
        try:
            base = f"http://localhost:{self.served.port}"
            browser.open(base + "/")
            self.assertEqual(browser.evaluate("location.pathname"), "/login")
            browser.submit_login("readera", PASSWORDS["readera"])
            self.assertEqual(browser.evaluate("location.pathname"), "/")
            self.assertEqual(browser.evaluate(
                "[...document.querySelectorAll('table.overview td.name')].map(e => e.textContent)"), [A])
            overview = browser.evaluate("document.querySelector('table.overview').innerText")
            browser.open(base + page_path(A))
            shown = browser.evaluate("""({
                plan: document.querySelectorAll('#plan svg').length,
                charts: document.querySelectorAll('#curves figure svg').length,
                alarms: [...document.querySelectorAll('#alarms li')].map(e => e.textContent),
                heads: [...document.querySelectorAll('#results tr:first-child th')].map(e => e.innerText),
                results: [...document.querySelectorAll('#results tr[data-point]')].map(
                    r => [...r.cells].map(c => c.textContent)),
                stabilityHeads: [...document.querySelectorAll('#stability th')].map(e => e.textContent),
                stability: [...document.querySelectorAll('#stability tr')].slice(1).map(
                    r => [...r.cells].map(c => c.textContent)),
                text: document.body.innerText})""")
            if os.environ.get("SEDIMETRA_KEEP_PICTURES"):
                folder = pathlib.Path(os.environ["SEDIMETRA_KEEP_PICTURES"])
                browser.screenshot(folder / "web-building-desktop.png", 1280, 900, False)
                browser.screenshot(folder / "web-building-phone.png", 390, 844, True)
                browser.open(base + "/")
                browser.screenshot(folder / "web-overview-phone.png", 390, 844, True)
                browser.screenshot(folder / "web-overview-desktop.png", 1280, 600, False)
        finally:
            browser.close()
        self.assertEqual(shown["plan"], 1)
        self.assertEqual(shown["charts"], A_POINTS)
        last = EPOCHS - 1
        cumulative = {f"S{j}": f"{(elevation(j, last) - elevation(j, 0)) * 1000:.2f}" for j in range(1, A_POINTS + 1)}
        in_alarm = sorted(name for name, s in cumulative.items() if float(s) < -7)
        self.assertTrue(in_alarm)
        measured = sorted(re.search(r"测点 (S\d+) 累计沉降", a).group(1) for a in shown["alarms"] if "累计沉降 " in a)
        self.assertEqual(measured, in_alarm)
        # With the forecasts' alarms (the final settlement past the alarm
        # value): the points the overview counts.
        named = {re.search(r"测点 (S\d+)", a).group(1) for a in shown["alarms"]}
        self.assertIn(f"（{len(named)} 个测点预警）", overview)
        # The page's last epoch column: every point's cumulative settlement
        # as computed here from the elevations.
        self.assertEqual(shown["heads"][-3], f"第{EPOCHS}次\n{date(last)}")
        on_page = {row[0]: row[-3] for row in shown["results"]}
        self.assertEqual(on_page, cumulative)

        # The same building's report, downloaded by the same client.
        cookie = self.session("readera")
        headers, pdf = self.download(cookie, A, "/report.pdf")
        self.assertEqual(headers["content-type"], "application/pdf")
        self.assertIn("filename*=UTF-8''" + urllib.parse.quote(f"{A}-沉降观测报告-"), headers["content-disposition"])
        text = subprocess.run(["pdftotext", "-layout", "-", "-"], input=pdf, capture_output=True,
                              check=True).stdout.decode()
        flat = re.sub(r"\s+", "", text)
        table = text[text.index("三、观测成果表"):text.index("四、沉降曲线")]
        for name, value in on_page.items():
            self.assertIn(value, table, name)
        for alarm in shown["alarms"]:
            self.assertIn(re.sub(r"\s+", "", alarm), flat)
        # The forecasts and their intervals, as the report's table has them.
        columns = {h: i for i, h in enumerate(shown["stabilityHeads"])}
        stability = re.sub(r"\s+", "", text[text.index("五、稳定性分析与预测"):])
        forecasts = 0
        for row in shown["stability"]:
            for heading in ("双曲线法预测(mm)", "双曲线法95%区间(mm)"):
                cell = row[columns[heading]]
                if cell != "—":
                    forecasts += 1
                    self.assertIn(cell, stability, row[1])
        self.assertGreaterEqual(forecasts, A_POINTS)
        # The workbook: the last epoch's block, found by its date.
        headers, xlsx = self.download(cookie, A, "/results.xlsx")
        sheet = openpyxl.load_workbook(io.BytesIO(xlsx))["沉降观测成果表"]
        tops = [(c.row, c.column) for row in sheet.iter_rows() for c in row if c.value == date(last).isoformat()]
        self.assertEqual(len(tops), 1)
        row, column = tops[0]
        for j in range(1, A_POINTS + 1):
            value = sheet.cell(row + 2 + j, column + 2).value
            self.assertEqual(f"{value:.2f}", on_page[f"S{j}"], f"S{j}")
        # And the data the page shows, as `analyse` and `plan` give them.
        _, data = self.download(cookie, A, "/data.json")
        data = json.loads(data)
        last_alarms = [a for a in data["plan"]["alarms"]]
        self.assertEqual({a["point"] for a in last_alarms}, named)
        self.assertEqual(len(last_alarms), len(shown["alarms"]))
        self.assertEqual(len(data["analyse"]["points"]), A_POINTS)

    def test_not_yours_reads_as_not_there(self):
        every = set(CLUSTER.sql("SELECT name FROM sedimetra.projects").splitlines())
        readable = {"admin": every, "staff": every, "writera": {A}, "readera": {A}, "readerb": {B},
                    "nobody": set()}
        names = [A, B, "不存在的楼", "x' OR '1'='1", "%", "_", "滨江花园a座"]
        marks = {A: [A, "滨江", "S12"], B: ["江畔", "乙1", "乙6"]}
        refusal = None
        for who, mine in readable.items():
            cookie = self.session(who)
            status, _, body = self.served.request("GET", "/", cookie=cookie)
            self.assertEqual(status, 200)
            listed = {html_unescape(m) for m in re.findall(r'<td class="name"><a [^>]*>([^<]*)</a>', body.decode())}
            self.assertEqual(listed, mine, who)
            for name in names:
                for part in ("", "/data.json", "/report.pdf", "/results.xlsx"):
                    status, headers, body = self.served.request("GET", page_path(name, part), cookie=cookie)
                    if name not in mine:
                        self.assertEqual(status, 404, (who, name, part))
                        refusal = refusal or (headers["content-type"], body)
                        self.assertEqual((headers["content-type"], body), refusal, (who, name, part))
                        continue
                    self.assertEqual(status, 200, (who, name, part))
                    readable_text = readable_bytes(body, part)
                    for other in {A, B} - {name}:
                        for mark in marks[other]:
                            self.assertNotIn(mark, readable_text, (who, name, part))
                            self.assertNotIn(html_escape(mark), readable_text, (who, name, part))
            self.served.request("POST", "/logout", "", cookie=cookie)

    def test_a_new_epoch_is_on_the_page_at_the_next_load(self):
        name = "新楼"
        file = self.root / "新.mdb"
        csv = make_project(file, "N", 4, {"工程名称": "新楼"})
        self.assertEqual(batch(self.program, "coords", file, csv).returncode, 0)
        self.assertEqual(batch(self.program, "server", "push", file, url(name)).returncode, 0)
        self.assertEqual(batch(self.program, "server", "grant", url(name), "readerc", "read").returncode, 0)
        cookie = self.session("readerc")
        status, _, before = self.served.request("GET", page_path(name), cookie=cookie)
        self.assertEqual(status, 200)
        self.assertIn(f"共 {EPOCHS} 次观测", before.decode())
        run = batch(self.program, "epoch", url(name), "add", "--date", date(EPOCHS).isoformat(),
                    "--name", "加测", "--layers", "10")
        self.assertEqual(run.returncode, 0, run.stderr)
        book = openpyxl.Workbook()
        book.active.title = "Sheet1"
        book.active.append(["点名", "高程"])
        for j in range(1, 5):
            book.active.append([f"N{j}", elevation(j, EPOCHS)])
        book.save(self.root / "加测.xlsx")
        run = batch(self.program, "import", url(name), "--epoch", str(EPOCHS), self.root / "加测.xlsx")
        self.assertEqual(run.returncode, 0, run.stderr)
        status, _, after = self.served.request("GET", page_path(name), cookie=cookie)
        self.assertEqual(status, 200)
        self.assertIn(f"末次观测：加测（{date(EPOCHS)}），共 {EPOCHS + 1} 次观测", after.decode())

    def test_sessions_end_as_they_should(self):
        served = Served(self.program, "--idle", "5", "--sessions", "2")
        try:
            # No cookie, or one the server never gave: the login page.
            for cookie in (None, "0" * 64, "../" * 30):
                for path in ("/", page_path(A), page_path(A, "/report.pdf")):
                    status, headers, _ = served.request("GET", path, cookie=cookie)
                    self.assertEqual((status, headers.get("location")), (303, "/login"), (cookie, path))
            status, headers, first = served.login("readera")
            self.assertEqual((status, headers["location"]), (303, "/"))
            attributes = [a.strip() for a in headers["set-cookie"].split(";")]
            for attribute in ("Path=/", "Secure", "HttpOnly", "SameSite=Strict"):
                self.assertIn(attribute, attributes)
            self.assertFalse(any(a.lower().startswith("domain") for a in attributes))
            _, _, second = served.login("readera")
            self.assertNotEqual(first, second)
            # Two at most: the third login waits for a logout.
            status, _, third = served.login("readerb")
            self.assertEqual((status, third), (503, None))
            status, headers, _ = served.request("POST", "/logout", "", cookie=first)
            self.assertEqual((status, headers["location"]), (303, "/login"))
            self.assertIn("Max-Age=0", headers["set-cookie"])
            # The cookie replayed after the logout: refused.
            self.assertEqual(served.request("GET", "/", cookie=first)[0], 303)
            self.assertEqual(served.request("GET", "/", cookie=second)[0], 200)
            status, _, third = served.login("readerb")
            self.assertEqual(status, 303)
            # Idle longer than allowed: gone.
            time.sleep(5.5)
            status, headers, _ = served.request("GET", "/", cookie=third)
            self.assertEqual((status, headers.get("location")), (303, "/login"))
            # A form from another site is not taken.
            form = urllib.parse.urlencode({"user": "readera", "password": PASSWORDS["readera"]})
            status, _, _ = served.request("POST", "/login", form, headers={"Origin": "https://evil.example"})
            self.assertEqual(status, 403)
        finally:
            served.stop()

    def test_a_session_the_server_cut_off_ends(self):
        served = Served(self.program)
        try:
            for path in ("/", page_path(B)):
                _, _, cookie = served.login("readerb")
                self.assertEqual(served.request("GET", path, cookie=cookie)[0], 200)
                CLUSTER.sql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = 'readerb'")
                # Neither an empty list nor "no such building": the login
                # page, saying why, and the cookie no longer opens anything.
                status, headers, _ = served.request("GET", path, cookie=cookie)
                self.assertEqual((status, headers.get("location")), (303, "/login?ended"), path)
                self.assertIn("与数据库的连接已断开".encode(), served.request("GET", "/login?ended")[2])
                status, headers, _ = served.request("GET", path, cookie=cookie)
                self.assertEqual((status, headers.get("location")), (303, "/login"), path)
        finally:
            served.stop()

    def test_wrong_passwords_are_refused_for_a_while(self):
        served = Served(self.program)
        try:
            answers = [served.login("readerb", "wrong-" + str(i))[0] for i in range(20)]
            self.assertEqual(answers, [401] * 5 + [429] * 15)
            # The right password is not even tried until the window passes.
            status, _, cookie = served.login("readerb")
            self.assertEqual((status, cookie), (429, None))
            # Another client from the same address still logs in, until
            # the address has failed too often.
            self.assertEqual(served.login("readera")[0], 303)
            for i in range(15):
                self.assertEqual(served.login(f"guess{i}", "x")[0], 401)
            self.assertEqual(served.login("writera")[0], 429)
            # Each attempt answered at once: no thread held by a refusal.
            started = time.monotonic()
            served.login("readerb")
            self.assertLess(time.monotonic() - started, 5)
        finally:
            served.stop()

    def test_hostile_requests_leave_the_server_bounded(self):
        served = Served(self.program)
        try:
            _, _, cookie = served.login("readera")

            def ask(method, path, body=None, headers=None):
                try:
                    return served.request(method, path, body, headers, cookie)
                except (http.client.HTTPException, ConnectionError):
                    return None, {}, b""  # the server closed the connection

            status, _, _ = ask("GET", "/projects/" + "x" * 100_000)
            self.assertIn(status, (None, 400, 414))
            status, _, _ = ask("GET", "/", headers={"X-Long": "y" * 100_000})
            self.assertIn(status, (None, 400, 431))
            status, _, _ = ask("GET", "/", headers={f"X-Many-{i}": "z" for i in range(500)})
            self.assertIn(status, (None, 200, 400, 431))
            status, _, _ = ask("POST", "/login", "user=" + "a" * 200_000)
            self.assertIn(status, (None, 400, 413))
            # A body on a GET changes nothing.
            status, _, body = ask("GET", page_path(A), "user=admin&password=x",
                                  {"Content-Type": "application/x-www-form-urlencoded"})
            self.assertEqual(status, 200)
            not_there = ask("GET", page_path("不存在"))[2]
            for path in ("/projects/../../etc/passwd", "/projects/%2e%2e%2f%2e%2e%2fetc%2fpasswd/report.pdf",
                         page_path(A) + "/../../../../etc/passwd", "/style.css/../../../etc/passwd",
                         "/projects/..%2f..%2f..%2fetc%2fpasswd", page_path(A) + "/report.pdf%00.html",
                         page_path("' OR 1=1 --"), page_path(A + "'; DROP TABLE sedimetra.sur2; --"),
                         "/projects/%00", "/projects/" + "%ff%fe"):
                status, _, body = ask("GET", path)
                self.assertIn(status, (400, 404), path)
                self.assertNotIn(b"root:", body, path)
                if path.startswith("/projects/") and status == 404 and b"<!DOCTYPE" in body and b"/" not in \
                        urllib.parse.unquote(path[len("/projects/"):]).encode():
                    self.assertEqual(body, not_there, path)
            self.assertEqual(CLUSTER.sql("SELECT count(*) FROM sedimetra.sur2") != "0", True)
            # A thousand requests in a bounded loop: bounded time and memory,
            # and the server still answers.
            paths = ["/health", "/", page_path(A, "/data.json"), page_path("没有"), "/nowhere", "/login"]
            for i in range(100):
                ask("GET", paths[i % len(paths)])
            warm = served.rss_kb()
            started = time.monotonic()
            for i in range(1000):
                status, _, _ = ask("GET", paths[i % len(paths)])
                self.assertIsNotNone(status)
            self.assertLess(time.monotonic() - started, 120)
            self.assertLess(served.rss_kb() - warm, 64 * 1024)
            self.assertEqual(ask("GET", "/health")[:1], (200,))
            self.assertEqual(ask("GET", "/")[0], 200)
        finally:
            served.stop()

    def test_through_nginx_with_tls(self):
        nginx = shutil.which("nginx") or ("/usr/sbin/nginx" if os.path.exists("/usr/sbin/nginx") else None)
        if not nginx or not shutil.which("openssl"):
            self.skipTest("nginx or openssl is not installed")
        site = self.root / "nginx"
        site.mkdir()
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=localhost", "-keyout", site / "key.pem", "-out", site / "cert.pem"],
                       check=True, capture_output=True, timeout=60)
        with socket.socket() as s, socket.socket() as t:
            s.bind(("127.0.0.1", 0))
            t.bind(("127.0.0.1", 0))
            port, plain = s.getsockname()[1], t.getsockname()[1]
        # The packaged site and proxy settings as a firm installs them, with
        # this test's ports and certificate.
        packaged = SOURCE / "packaging/web"
        proxy = (packaged / "sedimetra-web-proxy.conf").read_text().replace(
            "127.0.0.1:8470", f"127.0.0.1:{self.served.port}")
        (site / "proxy.conf").write_text(proxy)
        text = (packaged / "sedimetra-web.nginx").read_text()
        text = text.replace("/etc/nginx/sedimetra-web-proxy.conf", str(site / "proxy.conf"))
        text = text.replace("/etc/ssl/certs/sedimetra-web.pem", str(site / "cert.pem"))
        text = text.replace("/etc/ssl/private/sedimetra-web.key", str(site / "key.pem"))
        text = re.sub(r"listen \[::\]:\d+[^;]*;", "", text)
        text = text.replace("listen 80;", f"listen 127.0.0.1:{plain};")
        text = text.replace("listen 443 ssl http2;", f"listen 127.0.0.1:{port} ssl http2;")
        (site / "nginx.conf").write_text(
            f"worker_processes 1;\nerror_log {site}/error.log;\npid {site}/nginx.pid;\n"
            "events { worker_connections 64; }\n"
            f"http {{ access_log off; client_body_temp_path {site}/body; proxy_temp_path {site}/proxy;\n"
            f"fastcgi_temp_path {site}/fcgi; uwsgi_temp_path {site}/uwsgi; scgi_temp_path {site}/scgi;\n"
            f"include {site}/site.conf; }}\n" + ("user root;\n" if os.geteuid() == 0 else ""))
        (site / "site.conf").write_text(text)
        process = subprocess.Popen([nginx, "-p", str(site), "-c", str(site / "nginx.conf"), "-g", "daemon off;"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            context = ssl.create_default_context(cafile=str(site / "cert.pem"))
            context.check_hostname = False

            def ask(method, path, body=None, cookie=None):
                deadline = time.time() + 20
                while True:
                    try:
                        connection = http.client.HTTPSConnection("localhost", port, context=context, timeout=60)
                        headers = {"Content-Type": "application/x-www-form-urlencoded"} if body else {}
                        if cookie:
                            headers["Cookie"] = f"__Host-sedimetra={cookie}"
                        connection.request(method, path, body=body, headers=headers)
                        response = connection.getresponse()
                        answer = response.status, {k.lower(): v for k, v in response.getheaders()}, response.read()
                        connection.close()
                        return answer
                    except (ConnectionRefusedError, ConnectionResetError):
                        if time.time() > deadline or process.poll() is not None:
                            raise AssertionError((site / "error.log").read_text()
                                                 if (site / "error.log").exists() else "nginx did not start")
                        time.sleep(0.2)

            status, headers, body = ask("GET", "/health")
            self.assertEqual((status, body), (200, b"ok\n"))
            self.assertHeaders(headers)
            self.assertIn("max-age", headers["strict-transport-security"])
            form = urllib.parse.urlencode({"user": "readera", "password": PASSWORDS["readera"]})
            status, headers, _ = ask("POST", "/login", form)
            self.assertEqual(status, 303)
            cookie = re.search(r"__Host-sedimetra=([0-9a-f]+)", headers["set-cookie"]).group(1)
            status, headers, body = ask("GET", page_path(A), cookie=cookie)
            self.assertEqual(status, 200)
            self.assertHeaders(headers)
            self.assertIn(A, body.decode())
            # A body larger than a login form's: refused by nginx.
            self.assertEqual(ask("POST", "/login", "x=" + "y" * 40_000)[0], 413)
            # The browser over TLS, as a client sees it.
            (self.root / "tls").mkdir(exist_ok=True)
            browser = Browser(self.root / "tls")
            try:
                browser.open(f"https://localhost:{port}/login")
                browser.submit_login("readera", PASSWORDS["readera"])
                self.assertEqual(browser.evaluate("location.pathname"), "/")
                browser.open(f"https://localhost:{port}{page_path(A)}")
                self.assertEqual(browser.evaluate("document.querySelectorAll('#plan svg').length"), 1)
            finally:
                browser.close()
        finally:
            process.terminate()
            process.wait(timeout=30)

    def test_health_says_only_that_it_runs(self):
        status, headers, body = self.served.request("GET", "/health")
        self.assertEqual((status, body), (200, b"ok\n"))
        self.assertHeaders(headers)


def main():
    def started(cluster):
        global CLUSTER
        CLUSTER = cluster
    return run_tests(ADMIN_PASSWORD, "the web view's tests", started,
                     os.environ.get("SEDIMETRA_WEB_TESTS", "").split())


if __name__ == "__main__":
    sys.exit(main())
