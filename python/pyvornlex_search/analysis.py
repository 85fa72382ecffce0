"""The words of a text: one definition for the documents and the queries of a
database, and for vectors sent to other stores.

An `Analysis` is the settings, plain data that a database stores; an
`Analyzer` applies them::

    from pyvornlex_data import sample_user_dict
    from pyvornlex_search.analysis import Analysis, Analyzer

    analyzer = Analyzer(Analysis(user_dictionaries=(sample_user_dict(),)))
    analyzer.words("用ＰＹＴＨＯＮ和LibreOffice的云计算")  # ['python', 'libreoffice', '云计算']

The words of a text are found in four steps:

1. Folding (``fold``, on by default): Unicode NFKC normalisation, then case
   folding, so that ``LibreOffice``, ``libreoffice``, ``PYTHON`` and the
   full-width ``ＰＹＴＨＯＮ`` give the same word.
2. The cut: ``Jieba.cut`` with the standard dictionaries and the analysis's
   user dictionaries (their words folded as the text is).
3. Words made only of blanks, punctuation and control characters are dropped:
   they occur in nearly every document, so they would cost the most postings
   and tell documents apart the least.
4. Stop words are dropped: whole words of the cut found in the stop-word list
   (the list that ships with the standard dictionaries, the user's own, or
   none), folded as the text is.

A database stores its analysis (`Analysis.to_json`) and the SHA-256 of every
file the analysis reads (`Analysis.fingerprints`), and checks them
(`Analysis.check_fingerprints`) before it cuts a query or a document again:
a dictionary that changed would cut other words than the stored ones.
"""

from __future__ import annotations

import hashlib
import json
import os
import shlex
import tempfile
import unicodedata
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from typing import Any, NamedTuple, Sequence, Union

from pyvornlex import Jieba
from pyvornlex_data import dict_paths

from .errors import AnalysisChangedError
from .folding import fold_text, folded_dictionary

__all__ = ["Analysis", "AnalysisFile", "Analyzer", "STANDARD_STOP_WORDS", "build_jieba",
           "fold_text"]

# The stop-word list that ships with the standard dictionaries. Not a path:
# paths are stored absolute, so this name can be told apart from any of them.
STANDARD_STOP_WORDS = "standard"

_SETTINGS_VERSION = 1
_FINGERPRINTS_VERSION = 1
_STANDARD_PREFIX = "standard:"
_USER_DICTIONARY_SEPARATORS = "|;"  # cppjieba splits its user-dictionary argument at these
_CHUNK = 256  # texts per task of the cutting threads

_Path = Union[str, "os.PathLike[str]"]


def _absolute(path: _Path, what: str) -> str:
    text = os.fspath(path)
    if not isinstance(text, str):
        raise TypeError(f"the path of a {what} must be a str, not {type(text).__name__}")
    if text == "" or "\0" in text:
        raise ValueError(f"{text!r} is not the path of a {what}")
    return os.path.abspath(text)


class AnalysisFile(NamedTuple):
    """A file that an analysis reads."""

    role: str  # "standard main dictionary", "user dictionary", "stop-word list", ...
    key: str  # as stored: the absolute path, or "standard:<name>" for a standard data file
    path: str  # where it is read now


@dataclass(frozen=True)
class Analysis:
    """How text becomes words; equal settings cut alike.

    `fold`: NFKC normalisation and case folding before the cut.
    `user_dictionaries`: paths of cppjieba user-dictionary files (one word a
    line, optionally followed by a frequency and a tag, or a tag), added to the
    standard dictionaries in this order; stored absolute. A single path may be
    given as such. A path may not hold "|" or ";", where cppjieba splits.
    `stop_words`: `STANDARD_STOP_WORDS` (the default: the list that ships with
    the standard dictionaries), the path of the user's own list (UTF-8, one
    word a line; stored absolute; a file named "standard" in the current
    folder is "./standard"), or None for none.
    """

    fold: bool = True
    user_dictionaries: tuple[str, ...] = ()
    stop_words: str | None = STANDARD_STOP_WORDS

    def __post_init__(self) -> None:
        if not isinstance(self.fold, bool):
            raise TypeError(f"fold must be True or False, not {self.fold!r}")
        given: Any = self.user_dictionaries
        if isinstance(given, (str, os.PathLike)):
            given = (given,)
        dictionaries = tuple(_absolute(path, "user dictionary") for path in given)
        for path in dictionaries:
            if any(separator in path for separator in _USER_DICTIONARY_SEPARATORS):
                raise ValueError(f"{path}: cppjieba cannot read a user dictionary whose path "
                                 "holds '|' or ';' (it splits its list of dictionaries there); "
                                 "move or link the file to another path")
        object.__setattr__(self, "user_dictionaries", dictionaries)
        if self.stop_words is not None and self.stop_words != STANDARD_STOP_WORDS:
            object.__setattr__(self, "stop_words", _absolute(self.stop_words, "stop-word list"))

    @classmethod
    def legacy(cls) -> Analysis:
        """The analysis of databases made before analyses were stored: no
        folding, the standard dictionaries alone, no stop words."""
        return cls(fold=False, user_dictionaries=(), stop_words=None)

    def to_json(self) -> str:
        """The settings as a small JSON object, to store and read back with `from_json`."""
        return json.dumps({"version": _SETTINGS_VERSION, "fold": self.fold,
                           "user_dictionaries": list(self.user_dictionaries),
                           "stop_words": self.stop_words}, ensure_ascii=False, sort_keys=True)

    @classmethod
    def from_json(cls, text: str) -> Analysis:
        """The settings that `to_json` wrote. Raises ValueError for text that
        is not such settings, and for settings of a version this package does
        not know (written by a newer one)."""
        settings = _versioned(text, "analysis settings", _SETTINGS_VERSION)
        fold = settings.get("fold")
        dictionaries = settings.get("user_dictionaries")
        stop_words = settings.get("stop_words")
        if (not isinstance(fold, bool) or not isinstance(dictionaries, list)
                or not all(isinstance(path, str) for path in dictionaries)
                or not (stop_words is None or isinstance(stop_words, str))):
            raise ValueError(f"analysis settings: not what to_json writes: {text!r}")
        return cls(fold=fold, user_dictionaries=tuple(dictionaries), stop_words=stop_words)

    def files(self) -> list[AnalysisFile]:
        """Every file that the cut and the stop words depend on: the standard
        main dictionary and HMM model, the user dictionaries, the stop-word
        list. (The IDF table and stop-word list that `Jieba` also loads do not
        change its cut.)"""
        standard = dict_paths()
        files = [_standard_file("standard main dictionary", standard.dict_path),
                 _standard_file("standard HMM model", standard.hmm_path)]
        files += [AnalysisFile("user dictionary", path, path) for path in self.user_dictionaries]
        if self.stop_words == STANDARD_STOP_WORDS:
            files.append(_standard_file("standard stop-word list", standard.stop_word_path))
        elif self.stop_words is not None:
            files.append(AnalysisFile("stop-word list", self.stop_words, self.stop_words))
        return files

    def fingerprints(self) -> str:
        """The SHA-256 of every file of `files()`, as JSON to store with a
        database. Raises OSError for a file that cannot be read."""
        digests = {file.key: _sha256(file.path) for file in self.files()}
        return json.dumps({"version": _FINGERPRINTS_VERSION, "sha256": digests},
                          ensure_ascii=False, sort_keys=True)

    def check_fingerprints(self, record: str, database: str, hint: str | None = None) -> None:
        """Checks that the files are what `fingerprints()` recorded for the
        database at `database`. Raises AnalysisChangedError naming each file
        that is missing, unreadable or changed, followed by `hint` (what to do;
        by default: restore the file, or re-encode the database with the files
        as they are now), and ValueError for a record that is not of this
        analysis's files."""
        stored = _versioned(record, "analysis fingerprints", _FINGERPRINTS_VERSION).get("sha256")
        files = {file.key: file for file in self.files()}
        if not isinstance(stored, dict) or set(stored) != set(files):
            raise ValueError(f"{database}: the stored fingerprints are not of the files that its "
                             f"analysis reads ({', '.join(sorted(files))}): {record!r}")
        changes: list[tuple[str, str, str]] = []
        reasons: list[str] = []
        for file in files.values():
            try:
                digest = _sha256(file.path)
            except FileNotFoundError:
                changes.append((file.role, file.path, "missing"))
                reasons.append(f"the {file.role} {file.path} is missing")
            except OSError as error:
                changes.append((file.role, file.path, "unreadable"))
                reasons.append(f"the {file.role} {file.path} cannot be read ({error.strerror})")
            else:
                if digest != stored[file.key]:
                    changes.append((file.role, file.path, "changed"))
                    reasons.append(f"the {file.role} {file.path} changed since the database "
                                   "was cut with it")
        if changes:
            if hint is None:
                hint = _default_hint(database, [state for _, _, state in changes])
            raise AnalysisChangedError(f"{database}: {'; '.join(reasons)}; {hint}", changes)


def _standard_file(role: str, path: str) -> AnalysisFile:
    return AnalysisFile(role, _STANDARD_PREFIX + os.path.basename(path), path)


def _versioned(text: str, what: str, known: int) -> dict[str, Any]:
    try:
        value = json.loads(text)
    except (TypeError, ValueError) as error:
        raise ValueError(f"{what}: not JSON ({error}): {text!r}") from None
    if not isinstance(value, dict) or "version" not in value:
        raise ValueError(f"{what}: not a JSON object with a version: {text!r}")
    if type(value["version"]) is not int or value["version"] != known:
        raise ValueError(f"{what} of version {value['version']!r}: this pyvornlex_search reads "
                         f"version {known} only (a newer one wrote them: upgrade it)")
    return value


def _sha256(path: str) -> str:
    digest = hashlib.sha256()
    with open(path, "rb") as handle:
        for block in iter(lambda: handle.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def _default_hint(database: str, states: list[str]) -> str:
    one = len(states) == 1
    if "changed" in states and len(set(states)) == 1:
        return ("restore " + ("it as it was" if one else "them as they were")
                + ", or cut every document again with "
                + ("the file as it is" if one else "the files as they are")
                + f" now: python -m pyvornlex_search reencode {shlex.quote(database)} "
                "--use-current-files")
    return ("restore " + ("it" if one else "them") + ": without " + ("it" if one else "them")
            + " queries and new documents would not be cut as the database's documents were")


def build_jieba(analysis: Analysis) -> Jieba:
    """The Jieba that cuts for `analysis`: the standard dictionaries and the
    analysis's user dictionaries. When the analysis folds, the dictionary words
    are folded too (see folding.py). Raises OSError naming a dictionary that
    cannot be read: there is no falling back to the standard dictionaries."""
    standard = dict_paths()
    if not analysis.fold:
        return Jieba(*dict_paths("|".join(analysis.user_dictionaries)))
    content = folded_dictionary(standard.dict_path, analysis.user_dictionaries)
    with tempfile.TemporaryDirectory(prefix="pyvornlex-analysis-") as folder:
        path = os.path.join(folder, "folded.dict.utf8")
        if any(separator in path for separator in _USER_DICTIONARY_SEPARATORS):
            raise ValueError(f"{folder}: a temporary folder whose path holds '|' or ';' cannot "
                             "hold a user dictionary for cppjieba; set TMPDIR to another folder")
        with open(path, "wb") as handle:
            handle.write(content)
        return Jieba(*dict_paths(path))


def _read_stop_words(analysis: Analysis) -> frozenset[str]:
    """The stop words, folded when the analysis folds: one a line, blanks
    around a word ignored."""
    if analysis.stop_words is None:
        return frozenset()
    path = dict_paths().stop_word_path if analysis.stop_words == STANDARD_STOP_WORDS \
        else analysis.stop_words
    with open(path, "rb") as handle:
        content = handle.read()
    try:
        text = content.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise ValueError(f"{path}: the stop-word list is not UTF-8 text ({error})") from None
    if analysis.fold:
        text = fold_text(text)
    return frozenset(filter(None, (line.strip() for line in text.split("\n"))))


class _Kept(dict):  # type: ignore[type-arg]
    """word -> whether the analysis keeps it; stop words are in from the
    start, any other word is judged the first time it is seen."""

    def __missing__(self, word: str) -> bool:
        kept = not all(unicodedata.category(character)[0] in "ZPC" for character in word)
        self[word] = kept
        return kept


class Analyzer:
    """Cuts texts into the words of an `Analysis`.

    Building the Jieba takes a second or two; build one analyzer and keep it.
    `jieba` is a segmenter to share instead: the caller promises that it cuts
    as `build_jieba(analysis)` would, for instance the `jieba` of an analyzer
    whose analysis has the same `fold` and `user_dictionaries` (for an analysis
    that does not fold, ``Jieba(*dict_paths("|".join(user_dictionaries)))``);
    this cannot be checked. `threads` is the number of threads of `cut_many`
    (by default up to 2). An analyzer may be used from several threads.
    """

    def __init__(self, analysis: Analysis = Analysis(), *, jieba: Jieba | None = None,
                 threads: int | None = None) -> None:
        kept = _Kept.fromkeys(_read_stop_words(analysis), False)  # before the slow part
        self._analysis = analysis
        self._jieba = jieba if jieba is not None else build_jieba(analysis)
        self._threads = max(1, threads if threads is not None else min(2, os.cpu_count() or 1))
        self._kept = kept.__getitem__
        self._folds = analysis.fold

    @property
    def analysis(self) -> Analysis:
        return self._analysis

    @property
    def jieba(self) -> Jieba:
        return self._jieba

    @property
    def threads(self) -> int:
        return self._threads

    def fold(self, text: str) -> str:
        """The text as it is cut: folded (`fold_text`) if the analysis folds,
        else unchanged. Its words are substrings of it."""
        return fold_text(text) if self._folds else text

    def words(self, text: str) -> list[str]:
        """The words of `text`, in order, repeats included."""
        if self._folds:
            text = fold_text(text)
        return list(filter(self._kept, self._jieba.cut(text)))

    def _cut_chunk(self, texts: Sequence[str]) -> list[list[str]]:
        """The words of each text. The texts are cut as one, joined by line
        feeds: cppjieba cuts at every line feed and gives it as a word of its
        own, so each text's words are what cutting it alone gives, and one
        call instead of one per text lets the threads cut side by side rather
        than queue for the interpreter lock. The texts are folded one by one:
        a character that makes normalisation slow then slows its own text only."""
        joined = "\n".join(map(fold_text, texts) if self._folds else texts)
        # Folding keeps every line feed and brings in none: any more than
        # the joins are the texts' own.
        if joined.count("\n") != len(texts) - 1:
            return [self.words(text) for text in texts]
        # The line feeds are found and the words filtered by C-level calls:
        # a loop over the words here would hold the interpreter lock longer
        # than the cut releases it.
        kept, words = self._kept, self._jieba.cut(joined)
        each: list[list[str]] = []
        start = 0
        for _ in range(len(texts) - 1):
            end = words.index("\n", start)
            each.append(list(filter(kept, words[start:end])))
            start = end + 1
        each.append(list(filter(kept, words[start:])))
        return each

    def cut_many(self, texts: Sequence[str]) -> list[list[str]]:
        """`[self.words(text) for text in texts]`, faster: cut on `threads` threads."""
        chunks = [texts[start:start + _CHUNK] for start in range(0, len(texts), _CHUNK)]
        if self._threads == 1 or len(chunks) < 2:
            return [words for chunk in chunks for words in self._cut_chunk(chunk)]
        with ThreadPoolExecutor(self._threads) as pool:
            return [words for cut in pool.map(self._cut_chunk, chunks) for words in cut]
