"""dump against real file systems: permissions, links, owners, the system
calls that make a file durable, and the roads taken when the kernel refuses
unnamed files.

Cases that need another user's files run as root (CI does) with the power
over others' files dropped through setpriv, so that root's identity stays
but its permission checks are a plain user's; files chowned to 65534 stand
for another user's. strace watches and, for the fallback roads, refuses the
system calls of a real process."""

import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

from pyvornlex import BM25

OTHER = 65534  # nobody
AS_ROOT = os.geteuid() == 0
DROPPED = "-dac_override,-dac_read_search,-fowner,-chown"
STRACE = shutil.which("strace")


def trained(documents=(["a", "b", "a"], ["b", "c"])):
    model = BM25()
    for tokens in documents:
        model.train(list(tokens))
    return model


def expected_text(model):
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "model.json")
        model.dump(path)
        with open(path, "rb") as file:
            return file.read()


def dump_in_child(path, wrapper=(), documents=(["a", "b", "a"], ["b", "c"])):
    """Trains and dumps in a new process started through `wrapper`; returns
    the completed process."""
    script = ("import sys\nfrom pyvornlex import BM25\nmodel = BM25()\n"
              f"for tokens in {[list(d) for d in documents]!r}:\n    model.train(tokens)\n"
              "try:\n    model.dump(sys.argv[1])\nexcept RuntimeError as error:\n"
              "    print(error)\n    sys.exit(3)\n")
    return subprocess.run([*wrapper, sys.executable, "-c", script, path],
                          capture_output=True, text=True)


def without_power_over_others(command=()):
    return ["setpriv", "--bounding-set", DROPPED, "--inh-caps", DROPPED, *command]


class FileSystemCase(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.root = directory.name
        os.chmod(self.root, 0o755)

    def read(self, path):
        with open(path, "rb") as file:
            return file.read()

    def write(self, path, data=b"old model"):
        with open(path, "wb") as file:
            file.write(data)

    def leftovers(self, directory):
        return [name for name in os.listdir(directory) if name.startswith(".pyvornlex")]


@unittest.skipUnless(AS_ROOT and shutil.which("setpriv"), "needs root and setpriv")
class OthersFiles(FileSystemCase):
    def shared_folder(self, mode):
        folder = os.path.join(self.root, "shared")
        os.mkdir(folder)
        os.chown(folder, OTHER, OTHER)
        os.chmod(folder, mode)
        return folder

    def others_file(self, folder, mode):
        path = os.path.join(folder, "model.json")
        self.write(path)
        os.chown(path, OTHER, OTHER)
        os.chmod(path, mode)
        return path

    def test_a_writable_file_in_a_folder_we_may_not_write_is_written_in_place(self):
        for folder_mode in (0o755, 0o1777):  # read-only for us, or sticky
            with self.subTest(folder_mode=oct(folder_mode)):
                folder = self.shared_folder(folder_mode)
                path = self.others_file(folder, 0o666)
                inode = os.stat(path).st_ino
                child = dump_in_child(path, without_power_over_others())
                self.assertEqual(child.returncode, 0, child.stdout + child.stderr)
                self.assertEqual(self.read(path), expected_text(trained()))
                self.assertEqual(os.stat(path).st_ino, inode)
                self.assertEqual(sorted(os.listdir(folder)), ["model.json"])
                shutil.rmtree(folder)

    def test_a_file_we_may_not_write_stays_as_it_is(self):
        folder = self.shared_folder(0o777)
        path = self.others_file(folder, 0o644)
        child = dump_in_child(path, without_power_over_others())
        self.assertEqual((child.returncode, child.stdout.strip()),
                         (3, "Failed to dump: Unable to open file"))
        self.assertEqual(self.read(path), b"old model")
        self.assertEqual(sorted(os.listdir(folder)), ["model.json"])

    def test_owner_group_and_mode_are_kept_where_the_caller_may_set_them(self):
        path = os.path.join(self.root, "model.json")
        self.write(path)
        os.chown(path, OTHER, OTHER)
        os.chmod(path, 0o640)
        trained().dump(path)  # root may give the file away
        status = os.stat(path)
        self.assertEqual((status.st_uid, status.st_gid, stat.S_IMODE(status.st_mode)),
                         (OTHER, OTHER, 0o640))
        self.assertEqual(self.read(path), expected_text(trained()))
        # Without the power to give files away, the new file is the caller's,
        # with the old permissions.
        os.chmod(path, 0o666)
        child = dump_in_child(path, without_power_over_others(), [["x"]])
        self.assertEqual(child.returncode, 0, child.stdout + child.stderr)
        status = os.stat(path)
        self.assertEqual((status.st_uid, stat.S_IMODE(status.st_mode)), (0, 0o666))
        self.assertEqual(self.leftovers(self.root), [])


class Links(FileSystemCase):
    def test_every_name_of_a_hard_linked_file_sees_the_new_model(self):
        first = os.path.join(self.root, "model.json")
        second = os.path.join(self.root, "also-model.json")
        self.write(first)
        os.link(first, second)
        trained().dump(first)
        self.assertEqual(self.read(second), expected_text(trained()))
        self.assertEqual(os.stat(first).st_ino, os.stat(second).st_ino)
        self.assertEqual(self.leftovers(self.root), [])

    def test_a_link_to_a_file_not_yet_there_creates_the_file_through_it(self):
        elsewhere = os.path.join(self.root, "models")
        os.mkdir(elsewhere)
        link = os.path.join(self.root, "current.json")
        os.symlink("models/v1.json", link)  # relative, dangling
        chained = os.path.join(self.root, "chained.json")
        os.symlink(link, chained)
        trained().dump(chained)
        self.assertTrue(os.path.islink(link) and os.path.islink(chained))
        self.assertEqual(self.read(os.path.join(elsewhere, "v1.json")), expected_text(trained()))
        self.assertEqual(self.leftovers(self.root) + self.leftovers(elsewhere), [])

    def test_a_link_loop_cannot_be_opened(self):
        loop = os.path.join(self.root, "loop.json")
        os.symlink("loop.json", loop)
        with self.assertRaisesRegex(RuntimeError, "^Failed to dump: Unable to open file$"):
            trained().dump(loop)
        self.assertEqual(os.listdir(self.root), ["loop.json"])


def traced(path, *strace_options):
    """Dumps in a child under strace; returns (child, the trace's lines)."""
    log = path + ".strace"
    child = dump_in_child(path, [STRACE, "-f", "-qq", "-o", log, *strace_options])
    with open(log, encoding="utf-8", errors="replace") as file:
        lines = file.read().splitlines()
    os.unlink(log)
    return child, lines


def first_index(lines, pattern):
    return next(i for i, line in enumerate(lines) if re.search(pattern, line))


@unittest.skipUnless(STRACE, "needs strace")
class SystemCalls(FileSystemCase):
    def test_the_file_then_the_directory_are_synced_around_the_rename(self):
        path = os.path.join(self.root, "model.json")
        self.write(path)
        child, lines = traced(path, "-e", "trace=openat,linkat,rename,fsync")
        self.assertEqual(child.returncode, 0, child.stdout + child.stderr)
        tmpfile = first_index(lines, r"O_TMPFILE.*=\s*\d+$")
        file_sync = first_index(lines[tmpfile:], r"fsync\(") + tmpfile
        link = first_index(lines, r"linkat\(.*AT_EMPTY_PATH\)\s*=\s*0")
        rename = first_index(lines, r'rename\(.*"%s"\)\s*=\s*0' % re.escape(path))
        directory = re.escape(self.root)
        opened = first_index(lines[rename:], r'openat\(AT_FDCWD, "%s", .*O_DIRECTORY\)\s*=\s*\d+'
                             % directory) + rename
        fd = re.search(r"=\s*(\d+)$", lines[opened]).group(1)
        directory_sync = first_index(lines[opened:], r"fsync\(%s\)\s*=\s*0" % fd) + opened
        self.assertLess(file_sync, link)
        self.assertLess(link, rename)
        self.assertLess(rename, directory_sync)
        self.assertEqual(self.read(path), expected_text(trained()))

    def test_refused_unnamed_files_fall_back_to_a_named_temporary(self):
        path = os.path.join(self.root, "model.json")
        refusals = {
            # The folder's file system has no O_TMPFILE (only the call that
            # opens the folder itself is refused).
            "no O_TMPFILE": ["-P", self.root, "-e", "trace=openat",
                             "-e", "inject=openat:error=EOPNOTSUPP:when=1"],
            # The kernel does not let this process name its unnamed file.
            "no naming": ["-e", "trace=linkat", "-e", "inject=linkat:error=EPERM"],
        }
        for case, options in refusals.items():
            with self.subTest(case):
                self.write(path)
                child, lines = traced(path, *options)
                self.assertEqual(child.returncode, 0, child.stdout + child.stderr)
                self.assertTrue(any("INJECTED" in line for line in lines), lines)
                self.assertEqual(self.read(path), expected_text(trained()))
                self.assertEqual(self.leftovers(self.root), [])

    def test_a_file_system_that_refuses_new_files(self):
        child = dump_in_child("/proc/model.json")
        self.assertEqual((child.returncode, child.stdout.strip()),
                         (3, "Failed to dump: Unable to open file"))


if __name__ == "__main__":
    unittest.main()
