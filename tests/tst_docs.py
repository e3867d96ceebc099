#!/usr/bin/python3
"""The documents say what the program does: every caption the README and the
user guide quote in 「」 is a text of the program: one its window and
dialogs show as the guide's tasks are done (the picture-taking program
reports what it saw), or one of its messages and outputs (a string of its
sources); every sedimetra-batch line of a `sh` code block runs,
in order, against a copy of the sample project and succeeds; every other
sedimetra-batch line (syntax in a `text` block, a `sh server` block) names a
command and options that the command's --help knows; every picture named
exists and is a PNG; the README stays short.

usage: tst_docs.py BIN_DIR SOURCE_DIR SCREENSHOTS_PROGRAM
"""
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

BIN = pathlib.Path(sys.argv[1]).resolve()
SOURCE = pathlib.Path(sys.argv[2]).resolve()
SCREENSHOTS = pathlib.Path(sys.argv[3]).resolve()
BATCH = BIN / "sedimetra-batch"
DOCS = SOURCE / "docs"
DOCUMENTS = [SOURCE / "README.md", DOCS / "用户手册.md", DOCS / "administration.md", DOCS / "development.md",
             DOCS / "reference.md"]
QUOTING = [SOURCE / "README.md", DOCS / "用户手册.md"]

# Where a quoted caption may start or end inside a longer text of the
# program: at its ends, at punctuation, at a placeholder.
BREAKS = set("，。：；！？\n“”（）「」")


def shown_captions():
    """What the window and its dialogs showed while the guide's tasks were
    done on the sample. Not the window's definition: a caption it gives at
    design time and replaces when it runs ("生成曲线图") is never seen."""
    with tempfile.TemporaryDirectory() as tmp:
        texts = pathlib.Path(tmp) / "texts.txt"
        done = subprocess.run([str(SCREENSHOTS), str(DOCS / "示例工程.mdb"), str(DOCS / "示例数据" / "水准示例.gsi"),
                               tmp, str(texts)], capture_output=True, text=True, timeout=300,
                              env={**os.environ, "QT_QPA_PLATFORM": os.environ.get("QT_QPA_PLATFORM", "offscreen"),
                                   "SEDIMETRA_XLSREADER": str(BIN / "sedimetra-xlsreader")})
        assert done.returncode == 0, done.stderr
        return [line.replace("\\n", "\n") for line in texts.read_text("utf-8").split("\n") if line]


def string_literals(code):
    """The string literals of C++ source, comments skipped; adjacent
    literals ("a" "b", across lines) joined."""
    found, i, n = [], 0, len(code)
    pending, last_end = None, 0
    while i < n:
        c = code[i]
        if code.startswith("//", i):
            i = code.find("\n", i)
            i = n if i < 0 else i
        elif code.startswith("/*", i):
            i = code.find("*/", i + 2)
            i = n if i < 0 else i + 2
        elif c == "'":
            j = i + 1
            while j < n and code[j] != "'":
                j += 2 if code[j] == "\\" else 1
            i = j + 1
        elif c == '"':
            j, text = i + 1, []
            while j < n and code[j] != '"':
                if code[j] == "\\":
                    text.append({"n": "\n", "t": "\t"}.get(code[j + 1], code[j + 1]))
                    j += 2
                else:
                    text.append(code[j])
                    j += 1
            literal = "".join(text)
            if pending is not None and code[last_end:i].strip() in ("", "u", "u8", "L"):
                pending += literal
            else:
                if pending is not None:
                    found.append(pending)
                pending = literal
            i = last_end = j + 1
        else:
            i += 1
    if pending is not None:
        found.append(pending)
    return found


def literals():
    """Every string of the program's sources (its messages, outputs and the
    captions its code gives)."""
    found = []
    for path in (SOURCE / "src").rglob("*"):
        if path.suffix in (".cpp", ".h"):
            found += string_literals(path.read_text(encoding="utf-8"))
    return found


def pattern(text):
    """A text of the program as a pattern: each placeholder any text."""
    return "".join(".+?" if re.fullmatch(r"%\d", piece) else re.escape(piece)
                   for piece in re.split(r"(%\d)", text))


def candidates(literal):
    """The parts of a text a caption may quote: from a break to a break
    (the break's punctuation may be kept at the end)."""
    marks = [0, len(literal)]
    for i, c in enumerate(literal):
        if c in BREAKS:
            marks += [i, i + 1]
    for m in re.finditer(r"%\d", literal):
        marks += [m.start(), m.end()]
    marks = sorted(set(marks))
    for a in marks:
        for b in marks:
            if b > a:
                yield literal[a:b].strip()


def normal(caption):
    return caption.strip().rstrip("：:…").strip()


def fenced_blocks(text):
    """(info string, lines) of each fenced code block, in order."""
    blocks = []
    for m in re.finditer(r"^( *)```([^\n`]*)\n(.*?)^\1```", text, re.S | re.M):
        indent = len(m.group(1))
        lines = [line[indent:] for line in m.group(3).split("\n")]
        blocks.append((m.group(2).strip(), lines))
    return blocks


def batch_lines(lines):
    """The sedimetra-batch command lines of a block, continuation lines joined."""
    joined, current = [], ""
    for line in lines:
        current += line.rstrip("\\").rstrip() + " " if line.rstrip().endswith("\\") else line
        if not line.rstrip().endswith("\\"):
            joined.append(current.strip())
            current = ""
    lines = [line.split(" #")[0].strip() for line in joined]
    return [line for line in lines if "sedimetra-batch" in line]


def help_of(words):
    """What --help says of the command a line names (its first word after
    sedimetra-batch)."""
    done = subprocess.run([str(BATCH), *words[:1], "--help"], capture_output=True, text=True, timeout=30)
    return done.returncode, done.stdout + done.stderr


class Documents(unittest.TestCase):
    def test_the_readme_is_short(self):
        lines = (SOURCE / "README.md").read_text("utf-8").split("\n")
        self.assertLessEqual(len(lines), 150)

    @classmethod
    def setUpClass(cls):
        cls.shown = shown_captions()

    def test_every_quoted_caption_is_the_programs(self):
        texts = [t for t in literals() + self.shown if t.strip()]
        exact = {normal(t) for t in texts}
        parts = {}
        for t in texts:
            if any(ord(c) > 0x2e7f for c in t):
                for part in candidates(t):
                    parts.setdefault(normal(part), []).append(part)
        # A text with placeholders stands for what it says around them:
        # at least two characters of its own ("%1" alone says nothing).
        patterns = {pattern(p) for t in texts if "%" in t for p in candidates(t)
                    if "%" in p and len(re.sub(r"%\d|\s", "", p)) >= 2}
        patterns = [re.compile(p) for p in patterns]
        checked = 0
        for document in QUOTING:
            for caption in re.findall(r"「([^」]+)」", document.read_text("utf-8")):
                with self.subTest(document=document.name, caption=caption):
                    c = normal(caption)
                    found = c in exact or c in parts or any(p.fullmatch(caption.strip()) or p.fullmatch(c)
                                                            for p in patterns)
                    self.assertTrue(found, f"「{caption}」 is no text of the program")
                    checked += 1
        self.assertGreater(checked, 100)

    def test_a_caption_that_is_not_the_programs_is_found(self):
        # The check itself: the window's captions are those it showed, and
        # a caption it never shows is not among them.
        texts = literals() + self.shown
        self.assertIn("输出曲线图", self.shown)
        self.assertIn("核对可疑高程", self.shown)
        parts = {normal(p) for t in texts for p in candidates(t)}
        self.assertNotIn("生成曲线图", parts)
        self.assertNotIn("保存工程", parts)

    def test_every_picture_named_exists(self):
        named = 0
        for document in DOCUMENTS:
            for target in re.findall(r"!\[[^\]]*\]\(([^)]+)\)", document.read_text("utf-8")):
                with self.subTest(document=document.name, picture=target):
                    path = (document.parent / target).resolve()
                    self.assertTrue(path.is_file(), path)
                    head = path.read_bytes()[:24]
                    self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
                    width, height = int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")
                    self.assertGreater(width * height, 64 * 32)
                    named += 1
        self.assertGreaterEqual(named, 15)

    def test_every_command_line_runs_or_is_known(self):
        """The `sh` blocks run as a reader runs them, in the order of the
        document, against one copy of the sample per document: the README
        from the repository's root, the others from docs/."""
        ran = 0
        for document in DOCUMENTS:
            blocks = fenced_blocks(document.read_text("utf-8"))
            with tempfile.TemporaryDirectory() as tmp:
                root = pathlib.Path(tmp)
                (root / "build").mkdir()
                (root / "build" / "bin").symlink_to(BIN)
                shutil.copytree(DOCS / "示例数据", root / "docs" / "示例数据")
                shutil.copy(DOCS / "示例工程.mdb", root / "docs" / "示例工程.mdb")
                where = root if document.name == "README.md" else root / "docs"
                env = {**os.environ, "PATH": f"{BIN}:{os.environ.get('PATH', '')}",
                       "SEDIMETRA_XLSREADER": str(BIN / "sedimetra-xlsreader"), "QT_QPA_PLATFORM": os.environ.get("QT_QPA_PLATFORM", "offscreen")}
                for info, lines in blocks:
                    for line in batch_lines(lines):
                        with self.subTest(document=document.name, line=line):
                            words = shlex.split(line)
                            words = words[words.index(next(w for w in words if w.endswith("sedimetra-batch"))) + 1:]
                            if info == "sh":
                                done = subprocess.run(line, shell=True, cwd=where, env=env, capture_output=True,
                                                      text=True, timeout=300)
                                self.assertEqual(done.returncode, 0, done.stdout[-2000:] + done.stderr[-2000:])
                                ran += 1
                            else:
                                code, text = help_of(words)
                                self.assertEqual(code, 0, text)
                                for option in re.findall(r"(?<![\w-])(--[a-z][a-z-]*)", line):
                                    self.assertRegex(text, re.escape(option) + r"(?![\w-])",
                                                     f"{option} is no option of {words[:1]}")
        print(f"{ran} command lines ran", file=sys.stderr)
        self.assertGreaterEqual(ran, 30)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
