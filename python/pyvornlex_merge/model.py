"""A model's file text without a file to manage, and a model text written as
dump writes a file: what an engine ships from its workers to the driver (a
BM25 cannot be pickled), and how the driver stores the merged text."""

from typing import TYPE_CHECKING, Union

from _pyvornlex_files.atomic import PathType, write_atomically
from _pyvornlex_files.model_file import model_bytes

if TYPE_CHECKING:
    from pyvornlex import BM25

__all__ = ["model_bytes", "model_text", "write_model"]


def model_text(model: "BM25") -> str:
    """The text that ``model.dump`` writes, as ``str``.

    A model trained on ``bytes`` tokens that are not UTF-8 has a file that is
    not UTF-8 either: then this raises ``ValueError``, and ``model_bytes``
    gives the file's bytes, which ``load`` and ``merge_texts`` accept as well.
    """
    data = model_bytes(model)
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise ValueError("the model holds a token that is not UTF-8 (byte %d of its file): "
                         "use model_bytes(model) for the file's bytes" % error.start) from None


def write_model(path: PathType, text: Union[str, bytes]) -> None:
    """Writes a model text to ``path`` as ``BM25.dump`` writes a file.

    The text is written as it is (a ``str`` as UTF-8): pass what this package
    or ``dump`` produced. Failures raise ``OSError`` and leave ``path`` as it
    was.
    """
    write_atomically(path, text.encode("utf-8") if isinstance(text, str) else bytes(text))
