"""Interruptions that tell the truth: every writing command, run as a child
process, is interrupted (SIGINT) and killed (SIGKILL) at random moments, and
once with SIGINT arriving while its change commits; after each, what it
printed and its exit status must say what the database holds: exactly what
it held before (130, "nothing was changed"), or exactly what the command
makes of it (0). No traceback, ever.

VORN_INTERRUPT_ROUNDS sets the random rounds per command and signal (2)."""

import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest
from contextlib import closing

from search_helpers import table_contents, write_lines
from sqlite_corpus import corpus_lines

ROUNDS = int(os.environ.get("VORN_INTERRUPT_ROUNDS", "2"))

# Runs the command line; with HOLD_COMMIT set, the process sends itself
# SIGINT as soon as its change starts to commit (or, for index, to move the
# finished file into place).
# With READY_FD set, it writes a byte there when the tool takes charge of
# Ctrl-C (as its command line starts to import): a signal that comes while
# the interpreter starts or `-m` finds the package ends in the interpreter's
# own traceback, which no program can prevent, so the random moments are
# counted from that byte.
CHILD = r"""
import os, runpy, signal, sys
from contextlib import contextmanager
if os.environ.get("READY_FD"):
    class SayReady:
        @staticmethod
        def find_spec(name, path=None, target=None):
            if name == "pyvornlex_search.cli":
                os.write(int(os.environ["READY_FD"]), b"r")
                sys.meta_path.remove(SayReady)
            return None
    sys.meta_path.insert(0, SayReady)
if os.environ.get("HOLD_COMMIT"):
    from pyvornlex_search import indexing, transaction
    held = transaction.interrupts_held

    @contextmanager
    def interrupted_while_held():
        with held() as holding:
            os.kill(os.getpid(), signal.SIGINT)
            yield holding
    transaction.interrupts_held = indexing.interrupts_held = interrupted_while_held
sys.argv[0] = "pyvornlex_search"
runpy.run_module("pyvornlex_search", run_name="__main__")
"""


def outcome(database):
    if not os.path.exists(database):
        return None
    return table_contents(database)


class Interrupting(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="search-interrupts-")
        cls.folder = os.path.join(cls.scratch.name, "notes")
        os.makedirs(cls.folder)
        for number in range(4):
            write_lines(os.path.join(cls.folder, f"n{number}.txt"),
                        corpus_lines(500, seed=50 + number))
        cls.more = os.path.join(cls.scratch.name, "more.txt")
        write_lines(cls.more, corpus_lines(1500, seed=60))
        cls.template = os.path.join(cls.scratch.name, "template.db")
        cls.run_child(["index", cls.folder, cls.template])
        cls.chooser = random.Random(int(os.environ.get("VORN_INTERRUPT_SEED", "7")))

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    @classmethod
    def run_child(cls, arguments, hold_commit=False):
        env = dict(os.environ)
        if hold_commit:
            env["HOLD_COMMIT"] = "1"
        return subprocess.run([sys.executable, "-c", CHILD, *arguments], env=env,
                              capture_output=True, text=True, timeout=300)

    @staticmethod
    def start_child(arguments):
        """Starts the command line and returns once the interpreter is up."""
        reading, writing = os.pipe()
        env = dict(os.environ, READY_FD=str(writing))
        try:
            child = subprocess.Popen([sys.executable, "-c", CHILD, *arguments],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True, env=env, pass_fds=(writing,))
        finally:
            os.close(writing)
        with os.fdopen(reading, "rb") as ready:
            ready.read(1)
        return child

    def fresh_copy(self, name):
        path = os.path.join(self.scratch.name, name)
        for suffix in ("", "-wal", "-shm"):
            if os.path.exists(path + suffix):
                os.unlink(path + suffix)
        shutil.copy(self.template, path)
        return path

    def check(self, command, make_arguments, alter=None):
        """Interrupts `command` in every way; `make_arguments(database)` gives
        its arguments; `alter(database)` changes the database before each run."""
        database = os.path.join(self.scratch.name, f"{command}.db")

        def prepare():
            if command == "index":
                for name in os.listdir(self.scratch.name):
                    if name.startswith(f"{command}.db"):
                        os.unlink(os.path.join(self.scratch.name, name))
            else:
                self.fresh_copy(f"{command}.db")
            if alter is not None:
                alter(database)

        prepare()
        before = outcome(database)
        done = self.start_child(make_arguments(database))
        started = time.monotonic()
        _, stderr = done.communicate(timeout=300)
        length = time.monotonic() - started
        self.assertEqual(done.returncode, 0, stderr)
        after = outcome(database)
        self.assertNotEqual(after, before)

        trials = [("hold", None)] + [(signal.SIGINT, self.chooser.uniform(0, length))
                                     for _ in range(ROUNDS)]
        trials += [(signal.SIGKILL, self.chooser.uniform(0, length)) for _ in range(ROUNDS)]
        seen = set()
        for how, delay in trials:
            prepare()
            with self.subTest(command=command, signal=how, delay=delay):
                if how == "hold":
                    result = self.run_child(make_arguments(database), hold_commit=True)
                    status, stdout, stderr = result.returncode, result.stdout, result.stderr
                    self.assertEqual(status, 0, stderr)
                    self.assertIn("interrupted after the change was complete", stderr)
                else:
                    child = self.start_child(make_arguments(database))
                    time.sleep(delay)
                    child.send_signal(how)
                    stdout, stderr = child.communicate(timeout=300)
                    status = child.returncode
                self.assertNotIn("Traceback", stderr)
                held = outcome(database)
                if status == 0:
                    self.assertEqual(held, after)
                    seen.add("after")
                elif status == 130:
                    self.assertIn("interrupted: nothing was changed", stderr)
                    self.assertEqual(held, before)
                    seen.add("before")
                else:
                    self.assertEqual(status, -signal.SIGKILL, stderr)
                    self.assertIn(held, (before, after))
                    seen.add("killed")
                    again = self.run_child(make_arguments(database))
                    if held == before:  # what was killed can be done again
                        self.assertEqual(again.returncode, 0, again.stderr)
                        self.assertEqual(outcome(database), after)
        self.assertIn("after", seen)

    def test_start_up(self):
        """Ctrl-C while the command line imports its modules, native ones
        included, or parses its arguments: a sweep of the first 0.2 s, with
        a command quick enough to finish inside it too."""
        database = os.path.join(self.scratch.name, "start-up.db")
        shutil.copy(self.template, database)
        for step in range(40):
            with self.subTest(delay=step * 0.005):
                child = self.start_child(["info", database])
                time.sleep(step * 0.005)
                child.send_signal(signal.SIGINT)
                stdout, stderr = child.communicate(timeout=60)
                self.assertNotIn("Traceback", stderr)
                self.assertIn(child.returncode, (0, 130), stderr)
                if child.returncode == 130:
                    self.assertRegex(stderr, r"^interrupted(: nothing was changed)?\n$")
                else:
                    self.assertIn("documents from 4 files", stdout)

    def test_index(self):
        self.check("index", lambda database: ["index", self.folder, database])

    def test_add(self):
        self.check("add", lambda database: ["add", self.more, database])

    def test_sync(self):
        write_lines(os.path.join(self.folder, "n0.txt"), corpus_lines(400, seed=70))
        write_lines(os.path.join(self.folder, "n9.txt"), corpus_lines(400, seed=71))
        try:
            self.check("sync", lambda database: ["sync", self.folder, database])
        finally:
            write_lines(os.path.join(self.folder, "n0.txt"), corpus_lines(500, seed=50))
            os.unlink(os.path.join(self.folder, "n9.txt"))

    def test_delete(self):
        self.check("delete", lambda database: ["delete", database, "--file",
                                               os.path.join(self.folder, "n1.txt"),
                                               os.path.join(self.folder, "n2.txt")])

    def test_reencode(self):
        def renumber_words(database):
            # Ids that reencode gives anew, so that before and after differ.
            with closing(sqlite3.connect(database)) as connection:
                connection.execute("UPDATE token SET id = id + 1000")
                connection.execute("UPDATE posting SET token = token + 1000")
                connection.commit()
        self.check("reencode", lambda database: ["reencode", database, "--use-current-files"],
                   renumber_words)


if __name__ == "__main__":
    unittest.main()
