"""Tiny Jieba data files that tests write for themselves, and a way to build a
segmenter from them in a child process, where an abort can't kill the runner."""

import json
import os
import subprocess
import sys

import pyvornlex

# Frequencies chosen so that the long words win over their parts.
MAIN_DICT = """\
中国 90 ns
科学 40 n
学院 40 n
科学院 30 n
中国科学院 10 nt
我 100 r
来到 50 v
北京 80 ns
大学 60 n
"""

# B, E, M and S in that order; the emission lines make every test character
# most likely a word of its own (state S).
HMM_MODEL = """\
# start probabilities
-0.26 -3.14e+100 -3.14e+100 -1.46
# transitions
-3.14e+100 -0.51 -0.91 -3.14e+100
-0.59 -3.14e+100 -3.14e+100 -0.80
-3.14e+100 -0.33 -1.26 -3.14e+100
-0.72 -3.14e+100 -3.14e+100 -0.66
# emissions
云:-12.0,计:-12.0,算:-12.0,好:-12.0
云:-12.0,计:-12.0,算:-12.0,好:-12.0
云:-12.0,计:-12.0,算:-12.0,好:-12.0
云:-1.0,计:-1.0,算:-1.0,好:-1.0
"""

USER_DICT = "云计算\n"
IDF = "中国 5.0\n科学 6.0\n"
STOP_WORDS = "的\n了\n"

CONTENTS = {
    "dict_path": MAIN_DICT,
    "hmm_path": HMM_MODEL,
    "user_dict_path": USER_DICT,
    "idf_path": IDF,
    "stop_word_path": STOP_WORDS,
}
FILE_NAMES = {
    "dict_path": "jieba.dict.utf8",
    "hmm_path": "hmm_model.utf8",
    "user_dict_path": "user.dict.utf8",
    "idf_path": "idf.utf8",
    "stop_word_path": "stop_words.utf8",
}
ARGUMENTS = tuple(CONTENTS)


def write_files(directory, **replacements):
    """Writes the five tiny files into `directory` and returns their paths by
    argument name. A replacement is the file's content (str or bytes)."""
    paths = {}
    for argument in ARGUMENTS:
        content = replacements.get(argument, CONTENTS[argument])
        path = os.path.join(directory, FILE_NAMES[argument])
        data = content if isinstance(content, bytes) else content.encode("utf-8")
        with open(path, "wb") as file:
            file.write(data)
        paths[argument] = path
    return paths


_CHILD = r"""
import json, sys
from pyvornlex import Jieba
arguments = json.loads(sys.argv[1])
try:
    jieba = Jieba(**arguments)
except BaseException as error:
    outcome = {"raised": type(error).__name__, "message": str(error),
               "errno": getattr(error, "errno", None),
               "filename": getattr(error, "filename", None)}
else:
    sentence = "我来到北京，云计算好。"
    outcome = {"raised": None, "cut": jieba.cut(sentence),
               "cut_for_search": jieba.cut_for_search(sentence)}
print(json.dumps(outcome))
"""


def construct_in_child(arguments, cwd=None):
    """Builds a Jieba from `arguments` (a dict by argument name) in a child
    interpreter. Returns (outcome, completed process): the outcome tells the
    exception raised (class name, message, errno, filename), or, when none was,
    the cuts of a short sentence. The outcome is None when the child died."""
    env = dict(os.environ)
    module_dir = os.path.dirname(os.path.abspath(pyvornlex.__file__))
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    completed = subprocess.run(
        [sys.executable, "-c", _CHILD, json.dumps(arguments)],
        capture_output=True, encoding="utf-8", errors="replace", cwd=cwd, env=env,
        timeout=120, check=False)
    outcome = json.loads(completed.stdout) if completed.returncode == 0 else None
    return outcome, completed
