"""Missing, unreadable and malformed Jieba data files raise Python exceptions
instead of ending the process. Every construction runs in a child process, so
that an abort shows up as a failed test."""

import errno
import os
import tempfile
import unittest

from jieba_files import MAIN_DICT, HMM_MODEL, construct_in_child, write_files


class DataFileCase(unittest.TestCase):
    def setUp(self):
        self._directory = tempfile.TemporaryDirectory()
        self.dir = self._directory.name
        self.addCleanup(self._directory.cleanup)

    def construct(self, arguments, cwd=None):
        outcome, completed = construct_in_child(arguments, cwd=cwd)
        self.assertEqual(completed.returncode, 0,
                         "the child process died:\n" + completed.stderr[-2000:])
        self.assertNotIn("FATAL", completed.stderr)
        return outcome

    def assert_raises_in_child(self, arguments, exception, cwd=None):
        outcome = self.construct(arguments, cwd=cwd)
        self.assertEqual(outcome["raised"], exception, outcome)
        return outcome

    def assert_builds(self, arguments):
        outcome = self.construct(arguments)
        self.assertIsNone(outcome["raised"], outcome)
        self.assertEqual("".join(outcome["cut"]), "我来到北京，云计算好。")
        return outcome

    def files(self, **replacements):
        return write_files(self.dir, **replacements)


class UnreadableFiles(DataFileCase):
    def assert_not_found(self, arguments, missing):
        outcome = self.assert_raises_in_child(arguments, "FileNotFoundError")
        self.assertEqual(outcome["errno"], errno.ENOENT)
        self.assertEqual(outcome["filename"], missing)

    def test_each_required_file_missing(self):
        for argument in ("dict_path", "hmm_path", "idf_path", "stop_word_path"):
            with self.subTest(argument=argument):
                arguments = self.files()
                arguments[argument] = os.path.join(self.dir, "missing-" + argument)
                self.assert_not_found(arguments, arguments[argument])

    def test_missing_user_dictionary_in_a_list(self):
        good = self.files()["user_dict_path"]
        missing = os.path.join(self.dir, "missing.utf8")
        for user_dicts in (missing, good + "|" + missing, missing + ";" + good,
                           good + ";" + good + "|" + missing):
            with self.subTest(user_dict_path=user_dicts):
                arguments = self.files()
                arguments["user_dict_path"] = user_dicts
                self.assert_not_found(arguments, missing)

    def test_empty_piece_of_a_user_dictionary_list_names_no_file(self):
        good = self.files()["user_dict_path"]
        for user_dicts in ("|", good + "||" + good, ";" + good):
            with self.subTest(user_dict_path=user_dicts):
                arguments = self.files()
                arguments["user_dict_path"] = user_dicts
                self.assert_not_found(arguments, "")

    def test_delimiter_at_the_end_of_a_user_dictionary_list_is_ignored(self):
        arguments = self.files()
        arguments["user_dict_path"] += ";"
        self.assertIn("云计算", self.assert_builds(arguments)["cut"])

    def test_the_error_class_follows_errno(self):
        arguments = self.files()
        arguments["hmm_path"] = self.dir
        outcome = self.assert_raises_in_child(arguments, "IsADirectoryError")
        self.assertEqual(outcome["filename"], self.dir)

        arguments = self.files()
        arguments["idf_path"] = os.path.join(arguments["idf_path"], "below-a-file")
        self.assert_raises_in_child(arguments, "NotADirectoryError")

    @unittest.skipIf(hasattr(os, "geteuid") and os.geteuid() == 0,
                     "root reads files whatever their mode")
    def test_unreadable_file_raises_permission_error(self):
        arguments = self.files()
        os.chmod(arguments["stop_word_path"], 0)
        outcome = self.assert_raises_in_child(arguments, "PermissionError")
        self.assertEqual(outcome["filename"], arguments["stop_word_path"])

    def test_relative_paths_are_read_from_the_current_directory(self):
        arguments = {name: os.path.basename(path) for name, path in self.files().items()}
        self.assertIsNone(self.construct(arguments, cwd=self.dir)["raised"])
        self.assert_raises_in_child(arguments, "FileNotFoundError",
                                    cwd=os.path.dirname(self.dir))

    def test_embedded_nul_in_a_path(self):
        for argument in ("dict_path", "hmm_path", "user_dict_path", "idf_path",
                         "stop_word_path"):
            with self.subTest(argument=argument):
                arguments = self.files()
                # The part before the NUL names a good file: it must not be read.
                arguments[argument] += "\0.backup"
                outcome = self.assert_raises_in_child(arguments, "ValueError")
                self.assertIn(argument, outcome["message"])


class MalformedMainDictionary(DataFileCase):
    def assert_malformed(self, content, line):
        arguments = self.files(dict_path=content)
        outcome = self.assert_raises_in_child(arguments, "ValueError")
        self.assertIn(arguments["dict_path"], outcome["message"])
        if line is None:
            self.assertNotIn("line", outcome["message"])
        else:
            self.assertIn("line %d:" % line, outcome["message"])

    def test_lines_without_exactly_three_fields(self):
        cases = {
            "two fields": ("中国 90\n", 1),
            "four fields": (MAIN_DICT + "北京 80 ns extra\n", 10),
            "double blank": ("中国  90 ns\n", 1),
            "tabs": ("中国 90 ns\n北京\t80\tns\n", 2),
            "blank line inside": ("中国 90 ns\n\n北京 80 ns\n", 2),
            "blank line at the end": (MAIN_DICT + "\n", 10),
            "line of one blank": ("中国 90 ns\n \n", 2),
        }
        for name, (content, line) in cases.items():
            with self.subTest(name):
                self.assert_malformed(content, line)

    def test_empty_dictionary(self):
        self.assert_malformed("", None)

    def test_lines_the_library_accepts(self):
        accepted = {
            "no final line feed": MAIN_DICT.rstrip("\n"),
            "carriage returns": MAIN_DICT.replace("\n", "\r\n"),
            "blank at the end of a line": MAIN_DICT.replace(" ns\n", " ns \n"),
            "empty word": MAIN_DICT + " 5 n\n",
            "word that is not UTF-8": MAIN_DICT.encode() + b"\xff\xfe 5 n\n",
            "zero and negative frequencies": MAIN_DICT + "云 0 n\n计 -5 n\n",
            "frequency that is no number": MAIN_DICT + "算 many n\n",
        }
        for name, content in accepted.items():
            with self.subTest(name):
                self.assert_builds(self.files(dict_path=content))


class MalformedModel(DataFileCase):
    def assert_malformed(self, content, expected):
        arguments = self.files(hmm_path=content)
        outcome = self.assert_raises_in_child(arguments, "ValueError")
        self.assertIn(arguments["hmm_path"], outcome["message"])
        self.assertIn(expected, outcome["message"])

    def test_missing_lines(self):
        lines = HMM_MODEL.splitlines(keepends=True)
        self.assert_malformed("", "the model ends before the start probabilities")
        self.assert_malformed("# only a comment\n\n   \n", "line 3: the model ends before")
        self.assert_malformed("".join(lines[:5]), "line 5: the model ends before the transition row of M")
        self.assert_malformed("".join(lines[:-1]), "ends before the emission line of S")

    def test_rows_without_four_values(self):
        lines = HMM_MODEL.splitlines(keepends=True)
        cases = {
            "three start values": (1, "-0.26 -3.14e+100 -1.46\n", "line 2: the start"),
            "five values in a row": (4, "-0.59 -1 -1 -1 -0.80\n", "line 5: the transition row of E"),
            "double blank": (6, "-3.14e+100  -0.33 -1.26 -3.14e+100\n", "line 7:"),
            "tab": (3, "-3.14e+100\t-0.51 -0.91 -3.14e+100\n", "line 4:"),
        }
        for name, (index, line, expected) in cases.items():
            with self.subTest(name):
                changed = lines[:index] + [line] + lines[index + 1:]
                self.assert_malformed("".join(changed), expected)

    def test_bad_emission_items(self):
        lines = HMM_MODEL.splitlines(keepends=True)
        cases = {
            "no colon": "云-1.0,计:-1.0\n",
            "value missing": "云:-1.0,计:\n",
            "two colons": "云:-1.0:2,计:-1.0\n",
            "two characters": "云计:-1.0\n",
            "no character": ":-1.0\n",
            "empty item": "云:-1.0,,计:-1.0\n",
            "blank after comma": "云:-1.0, 计:-1.0\n",
            "truncated character": b"\xe4\xba:-1.0\n".decode("utf-8", "surrogateescape"),
        }
        for name, line in cases.items():
            with self.subTest(name):
                content = "".join(lines[:-1]).encode() + line.encode("utf-8", "surrogateescape")
                self.assert_malformed(content, "line %d: the emission line of S" % len(lines))

    def test_forms_the_library_accepts(self):
        accepted = {
            "comments and blank lines anywhere": "\n  # note\n\t\n" + HMM_MODEL.replace("\n", "\n\n"),
            "carriage returns and indentation": "".join(
                "  " + line + "\r\n" for line in HMM_MODEL.splitlines()),
            "comma at the end": HMM_MODEL.replace("好:-1.0\n", "好:-1.0,\n"),
            "empty value after a second colon": HMM_MODEL.replace("好:-1.0\n", "好:-1.0,算::\n"),
            "values that are no numbers": HMM_MODEL.replace("-0.26", "x"),
            "lines after the model": HMM_MODEL + "anything at all\n",
        }
        for name, content in accepted.items():
            with self.subTest(name):
                self.assert_builds(self.files(hmm_path=content))


class ContentTheLibraryOnlyAsserts(DataFileCase):
    """The library checks these with plain asserts, compiled out here: each
    must build a working segmenter."""

    def test_empty_idf_and_stop_word_files(self):
        self.assert_builds(self.files(idf_path=""))
        self.assert_builds(self.files(stop_word_path=""))
        self.assert_builds(self.files(idf_path="", stop_word_path=""))

    def test_idf_lines_the_library_skips(self):
        self.assert_builds(self.files(idf_path="\n中国\n科学 6.0 extra\n 5\n"))

    def test_user_dictionary_lines(self):
        cases = {
            "frequency with a zero frequency sum": {
                "dict_path": "中国 0 ns\n北京 0 ns\n", "user_dict_path": "云计算 5 n\n"},
            "zero and negative frequencies": {"user_dict_path": "云计算 0 n\n计算 -3 v\n"},
            "frequency that is no number": {"user_dict_path": "云计算 x n\n"},
            "more than three fields": {"user_dict_path": "云计算 5 n extra\n"},
            "lines of blanks": {"user_dict_path": " \n   \n云计算\n"},
            "not UTF-8": {"user_dict_path": b"\xff\xfe\n\xe4\n"},
            "empty file": {"user_dict_path": ""},
        }
        for name, replacements in cases.items():
            with self.subTest(name):
                self.assert_builds(self.files(**replacements))


if __name__ == "__main__":
    unittest.main()
