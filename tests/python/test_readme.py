"""README.md stays true: its Python blocks run, its interactive (pycon)
examples print what they show, its opening commands and the files it names
exist. A block right after a line "<!-- not run: ... -->" is skipped."""

import doctest
import os
import re
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.path.abspath(os.environ.get(
    "VORN_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")))
README = os.path.join(SOURCE_DIR, "README.md")
FENCE = re.compile(r"^```(\w*)\n(.*?)^```$", re.MULTILINE | re.DOTALL)
SKIP_MARK = "<!-- not run:"
PASTE = """\
import code, sys
console = code.InteractiveConsole()
for line in sys.stdin.read().splitlines():
    console.push(line)
console.push("")
"""


def blocks(text):
    """(language, code, line number, skipped) for every fenced block."""
    found = []
    for match in FENCE.finditer(text):
        before = text[:match.start()].rstrip("\n").rsplit("\n", 1)[-1]
        line = text.count("\n", 0, match.start()) + 1
        found.append((match.group(1), match.group(2), line, before.startswith(SKIP_MARK)))
    return found


class Readme(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(README, encoding="utf-8") as handle:
            cls.text = handle.read()
        cls.blocks = blocks(cls.text)

    def run_in_scratch_directory(self, code, pasted=False):
        """Runs `code` as a script, or line by line as pasted into the
        interactive interpreter, where a block ends only at a blank line."""
        command = [sys.executable, "-c", PASTE if pasted else code]
        with tempfile.TemporaryDirectory() as directory:
            return subprocess.run(command, cwd=directory, input=code if pasted else None,
                                  capture_output=True, text=True, timeout=120)

    def test_opens_with_the_two_commands(self):
        language, code, _, _ = self.blocks[0]
        commands = [line.split("#")[0].strip() for line in code.splitlines()]
        self.assertEqual((language, commands), ("sh", ["bash scripts/demo.sh",
                                                       "bash scripts/test.sh"]))
        self.assertTrue(self.text.startswith("# pyvornlex\n\n```sh\n"))

    def test_python_blocks_run(self):
        python = [(code, line) for lang, code, line, skip in self.blocks
                  if lang == "python" and not skip]
        self.assertGreaterEqual(len(python), 1)
        for code, line in python:
            with self.subTest(line=line):
                result = self.run_in_scratch_directory(code)
                self.assertEqual(result.returncode, 0, result.stderr)

    def test_quick_start_pastes_and_prints_what_the_text_says(self):
        start = self.text.index("## Quick start")
        code = next(c for lang, c, line, _ in self.blocks
                    if lang == "python" and self.text.index(c) > start)
        pasted = self.run_in_scratch_directory(code, pasted=True)
        self.assertEqual(pasted.stderr, "")
        printed = pasted.stdout.splitlines()
        claimed = re.search(r"It prints (.*?)\.\n\n", self.text[start:], re.DOTALL).group(1)
        self.assertEqual(printed, re.findall(r"`([^`]*)`", claimed))

    def test_interactive_examples_print_what_they_show(self):
        parser = doctest.DocTestParser()
        interactive = [(code, line) for lang, code, line, skip in self.blocks
                       if lang == "pycon" and not skip]
        self.assertGreaterEqual(len(interactive), 4)
        previous = os.getcwd()
        for code, line in interactive:
            with self.subTest(line=line), tempfile.TemporaryDirectory() as directory:
                os.chdir(directory)
                try:
                    test = parser.get_doctest(code, {}, "README.md", README, line)
                    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
                    output = []
                    result = runner.run(test, out=output.append)
                finally:
                    os.chdir(previous)
                self.assertEqual(result.failed, 0, "".join(output))

    def test_named_files_exist(self):
        for path in sorted(set(re.findall(r"\((examples/[\w.]+|scripts/[\w.]+)\)", self.text)
                               + re.findall(r"`((?:examples|scripts)/[\w.]+\.(?:py|sh))`",
                                            self.text))):
            with self.subTest(path=path):
                self.assertTrue(os.path.isfile(os.path.join(SOURCE_DIR, path)))

    def test_every_example_is_in_the_table(self):
        for name in sorted(os.listdir(os.path.join(SOURCE_DIR, "examples"))):
            if name.endswith(".py"):
                with self.subTest(example=name):
                    self.assertIn("(examples/%s)" % name, self.text)


if __name__ == "__main__":
    unittest.main()
