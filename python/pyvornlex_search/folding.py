"""Folding text before it is cut, and the user dictionary that a Jieba loads
when its text is folded.

cppjieba matches dictionary words character for character, so once the text
is folded a word written with a capital or a full-width letter ("T恤",
"ＡＩ芯片") would never be found again and would be cut into pieces. The
Jieba of a folding analysis therefore loads, as its only user dictionary, a
file holding first the main dictionary's words whose folded form differs
(with their frequencies and tags, unless the main dictionary already has that
form), then every line of the user's dictionaries, in order, with its word
folded. Everything but the word is copied byte for byte, so cppjieba reads
each line as it would have read the original."""

from __future__ import annotations

import re
import unicodedata
from typing import Iterator, Sequence

__all__ = ["fold_text", "folded_dictionary"]

# Characters that folding leaves as they are and that compose with nothing:
# a main-dictionary line made only of these (most of them) cannot change.
_UNCHANGED = "\n a-z0-9.\u3400-\u4dbf\u4e00-\u9fff"
_MAY_CHANGE = re.compile(f"[^{_UNCHANGED}]")


# CPython's NFKC costs about 0.1 µs a character on a text that is not in NFKC
# already, and Chinese text seldom is, for its full-width punctuation. These
# blocks hold the compatibility characters that are common in it; replaced
# first by their NFKC forms, they leave a text equivalent under compatibility
# (so of the same NFKC), and most often in NFKC already, which normalize()
# sees at once.
_COMMON_BLOCKS = [(0x00A0, 0x00FF), (0x2000, 0x218F), (0x2460, 0x24FF), (0x3000, 0x33FF),
                  (0xF900, 0xFAFF), (0xFB00, 0xFB4F), (0xFE30, 0xFE6F), (0xFF00, 0xFFEF)]
_COMMON_FORMS = {character: form for character, form in (
    (chr(point), unicodedata.normalize("NFKC", chr(point)))
    for first, last in _COMMON_BLOCKS for point in range(first, last + 1)) if form != character}
_COMMON = re.compile("[" + "".join(map(re.escape, _COMMON_FORMS)) + "]")


def _common_form(match: re.Match[str]) -> str:
    return _COMMON_FORMS[match[0]]


def fold_text(text: str) -> str:
    """Unicode NFKC normalisation, then case folding: full-width letters and
    digits become ASCII ones, ligatures and compatibility forms are spelled
    out, and case is folded (which also turns "ß" into "ss"). Line feeds are
    neither brought in nor removed, and each line folds on its own, so the
    lines of a folded text are the folded lines."""
    return unicodedata.normalize("NFKC", _COMMON.sub(_common_form, text)).casefold()


def _line_around(text: str, position: int) -> tuple[int, int]:
    start = text.rfind("\n", 0, position) + 1
    end = text.find("\n", position)
    return start, len(text) if end < 0 else end


def _folded_main_entries(main_dictionary: str) -> Iterator[bytes]:
    with open(main_dictionary, "rb") as handle:  # text mode would translate newlines: slower
        text = handle.read().decode("utf-8")
    seen: set[str] = set()
    last_line = -1
    for match in _MAY_CHANGE.finditer(text):
        start, end = _line_around(text, match.start())
        if start == last_line:
            continue
        last_line = start
        line = text[start:end]
        word, _, rest = line.partition(" ")
        folded = fold_text(word)
        # A form the main dictionary has keeps its own frequency.
        if (folded == word or folded in seen or not _fits_a_line(folded)
                or text.startswith(folded + " ") or f"\n{folded} " in text):
            continue
        seen.add(folded)
        yield f"{folded} {rest}\n".encode("utf-8")


def _fits_a_line(word: str) -> bool:
    """Whether the word can be the first field of a dictionary line."""
    return word != "" and " " not in word and "\n" not in word


def _folded_user_lines(path: str) -> Iterator[bytes]:
    with open(path, "rb") as handle:
        content = handle.read()
    for line in content.split(b"\n"):
        word = line.split(b" ", 1)[0]
        try:
            folded = fold_text(word.decode("utf-8"))
        except UnicodeDecodeError:  # cppjieba reports it, as for the original
            folded = ""
        if _fits_a_line(folded):
            line = folded.encode("utf-8") + line[len(word):]
        yield line + b"\n"


def folded_dictionary(main_dictionary: str, user_dictionaries: Sequence[str]) -> bytes:
    """The content of the one user dictionary that a folding Jieba loads."""
    lines = list(_folded_main_entries(main_dictionary))
    for path in user_dictionaries:
        lines.extend(_folded_user_lines(path))
    return b"".join(lines)
