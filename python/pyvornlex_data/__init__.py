"""The standard Jieba dictionaries that come with pyvornlex, and where they are.

The build (and an installed package) puts this package next to the
``pyvornlex`` extension, with the five standard data files of cppjieba in its
``dict`` folder. Paths are found from this file, so the layout can be moved as
a whole::

    from pyvornlex import Jieba
    from pyvornlex_data import dict_paths

    jieba = Jieba(*dict_paths())                 # no user dictionary
    jieba = Jieba(**dict_paths(user_dict_path=my_words)._asdict())
"""

import os
from typing import NamedTuple

__all__ = ["JiebaPaths", "dict_dir", "dict_paths", "sample_user_dict"]


class JiebaPaths(NamedTuple):
    """The five arguments of ``Jieba``, in its constructor's order."""

    dict_path: str
    hmm_path: str
    user_dict_path: str
    idf_path: str
    stop_word_path: str


def dict_dir() -> str:
    """The absolute path of the folder that holds the standard data files."""
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "dict")


def sample_user_dict() -> str:
    """The small sample user dictionary that ships with the others.

    It is not used by default: pass it as ``user_dict_path`` to add its words.
    """
    return os.path.join(dict_dir(), "user.dict.utf8")


def dict_paths(user_dict_path: str = "") -> JiebaPaths:
    """The standard data files as ``Jieba``'s five arguments.

    ``user_dict_path`` is passed through unchanged: "" (the default) for no user
    dictionary, or one or more paths separated by "|" or ";".
    """
    folder = dict_dir()
    return JiebaPaths(
        dict_path=os.path.join(folder, "jieba.dict.utf8"),
        hmm_path=os.path.join(folder, "hmm_model.utf8"),
        user_dict_path=user_dict_path,
        idf_path=os.path.join(folder, "idf.utf8"),
        stop_word_path=os.path.join(folder, "stop_words.utf8"),
    )
