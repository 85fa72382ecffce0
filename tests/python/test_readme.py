"""README.md and the pages of docs/ stay true: their Python blocks run, their
interactive (pycon) examples print what they show, their links between pages
resolve, and the files they name exist; the README opens with its two
commands. A block right after a line "<!-- not run: ... -->" is skipped."""

import doctest
import glob
import os
import re
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.path.abspath(os.environ.get(
    "VORN_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")))
README = os.path.join(SOURCE_DIR, "README.md")
PAGES = [README] + sorted(glob.glob(os.path.join(SOURCE_DIR, "docs", "*.md")))
FENCE = re.compile(r"^```(\w*)\n(.*?)^```$", re.MULTILINE | re.DOTALL)
SKIP_MARK = "<!-- not run:"
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
HEADING = re.compile(r"^#{1,6} (.*)$", re.MULTILINE)
PASTE = """\
import code, sys
console = code.InteractiveConsole()
for line in sys.stdin.read().splitlines():
    console.push(line)
console.push("")
"""


def read(path):
    with open(path, encoding="utf-8") as handle:
        return handle.read()


def name(path):
    return os.path.relpath(path, SOURCE_DIR)


def blocks(text):
    """(language, code, line number, skipped) for every fenced block."""
    found = []
    for match in FENCE.finditer(text):
        before = text[:match.start()].rstrip("\n").rsplit("\n", 1)[-1]
        line = text.count("\n", 0, match.start()) + 1
        found.append((match.group(1), match.group(2), line, before.startswith(SKIP_MARK)))
    return found


def anchors(text):
    """The anchors of a page's headings, as the usual Markdown renderers make
    them: lower case, punctuation dropped, blanks turned into hyphens, a
    repeated one numbered."""
    seen = {}
    for heading in HEADING.findall(FENCE.sub("", text)):
        slug = re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        yield slug if count == 0 else "%s-%d" % (slug, count)


class Pages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.texts = {path: read(path) for path in PAGES}
        cls.text = cls.texts[README]
        cls.blocks = {path: blocks(text) for path, text in cls.texts.items()}

    def every_block(self, language):
        return [(path, code, line) for path, found in self.blocks.items()
                for lang, code, line, skip in found if lang == language and not skip]

    def run_in_scratch_directory(self, code, pasted=False):
        """Runs `code` as a script, or line by line as pasted into the
        interactive interpreter, where a block ends only at a blank line."""
        command = [sys.executable, "-c", PASTE if pasted else code]
        with tempfile.TemporaryDirectory() as directory:
            return subprocess.run(command, cwd=directory, input=code if pasted else None,
                                  capture_output=True, text=True, timeout=120)

    def test_the_docs_are_there(self):
        self.assertGreaterEqual(len(PAGES), 10)

    def test_opens_with_the_two_commands(self):
        language, code, _, _ = self.blocks[README][0]
        commands = [line.split("#")[0].strip() for line in code.splitlines()]
        self.assertEqual((language, commands), ("sh", ["bash scripts/demo.sh",
                                                       "bash scripts/test.sh"]))
        self.assertTrue(self.text.startswith("# pyvornlex\n\n```sh\n"))

    def test_python_blocks_run(self):
        python = self.every_block("python")
        self.assertGreaterEqual(len(python), 2)
        for path, code, line in python:
            with self.subTest(page=name(path), line=line):
                result = self.run_in_scratch_directory(code)
                self.assertEqual(result.returncode, 0, result.stderr)

    def test_quick_start_pastes_and_prints_what_the_text_says(self):
        start = self.text.index("## Quick start")
        code = next(c for lang, c, line, _ in self.blocks[README]
                    if lang == "python" and self.text.index(c) > start)
        pasted = self.run_in_scratch_directory(code, pasted=True)
        self.assertEqual(pasted.stderr, "")
        printed = pasted.stdout.splitlines()
        claimed = re.search(r"It prints (.*?)\.\n\n", self.text[start:], re.DOTALL).group(1)
        self.assertEqual(printed, re.findall(r"`([^`]*)`", claimed))

    def test_interactive_examples_print_what_they_show(self):
        parser = doctest.DocTestParser()
        interactive = self.every_block("pycon")
        self.assertGreaterEqual(len(interactive), 6)
        previous = os.getcwd()
        for path, code, line in interactive:
            with self.subTest(page=name(path), line=line), \
                    tempfile.TemporaryDirectory() as directory:
                os.chdir(directory)
                try:
                    test = parser.get_doctest(code, {}, name(path), path, line)
                    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
                    output = []
                    result = runner.run(test, out=output.append)
                finally:
                    os.chdir(previous)
                self.assertEqual(result.failed, 0, "".join(output))

    def test_links_between_pages_resolve(self):
        targets = {path: set(anchors(text)) for path, text in self.texts.items()}
        for path, text in self.texts.items():
            for link in LINK.findall(FENCE.sub("", text)):
                if re.match(r"[a-z]+:", link):
                    continue
                with self.subTest(page=name(path), link=link):
                    file, _, anchor = link.partition("#")
                    target = os.path.normpath(os.path.join(os.path.dirname(path), file)) \
                        if file else path
                    self.assertTrue(os.path.exists(target), "no file " + name(target))
                    if anchor:
                        self.assertIn(target, targets, "an anchor into a page not checked")
                        self.assertIn(anchor, targets[target])

    def test_named_files_exist(self):
        for path, text in self.texts.items():
            named = set(re.findall(r"`((?:examples|scripts|bench)/[\w./-]+\.(?:py|sh))`", text))
            for file in sorted(named):
                with self.subTest(page=name(path), file=file):
                    self.assertTrue(os.path.isfile(os.path.join(SOURCE_DIR, file)))

    def test_every_example_is_in_the_table(self):
        for example in sorted(os.listdir(os.path.join(SOURCE_DIR, "examples"))):
            if example.endswith(".py"):
                with self.subTest(example=example):
                    self.assertIn("(examples/%s)" % example, self.text)


if __name__ == "__main__":
    unittest.main()
