"""A model's file text without a file to manage: what an engine ships from
its workers to the driver, since a BM25 cannot be pickled."""

import os
import tempfile
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from pyvornlex import BM25

__all__ = ["model_bytes", "model_text"]


def model_bytes(model: "BM25") -> bytes:
    """The bytes that ``model.dump`` writes, dumped into a private temporary
    directory that is removed again. Raises what ``dump`` raises."""
    with tempfile.TemporaryDirectory(prefix="pyvornlex-model-") as directory:
        path = os.path.join(directory, "model.json")
        model.dump(path)
        with open(path, "rb") as handle:
            return handle.read()


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
