"""The model file's content, as the bytes that `BM25.dump` writes.

Bytes, not text: a model trained on `bytes` tokens holds keys that are not
UTF-8, and `BM25.load` takes the same bytes back unchanged, while any decoding
would either fail or produce a `str` that `load` refuses. Our own tokens are
always UTF-8 words; the bytes keep the helper honest for any model."""

from __future__ import annotations

import json
import os
import shutil
import tempfile
from typing import Any

from pyvornlex import BM25

__all__ = ["model_file_bytes", "model_statistics"]


def model_file_bytes(model: BM25) -> bytes:
    """What `model.dump(path)` writes, read back from a private temporary folder."""
    folder = tempfile.mkdtemp(prefix="pyvornlex-model-")  # mode 0700: nobody else reads it
    try:
        path = os.path.join(folder, "model.json")
        model.dump(path)
        with open(path, "rb") as handle:
            return handle.read()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def model_statistics(content: bytes) -> dict[str, Any]:
    """The members of a model file, parsed; keys that are not UTF-8 come out
    with surrogate escapes (they then match no query word)."""
    parsed = json.loads(content.decode("utf-8", "surrogateescape"))
    if not isinstance(parsed, dict):
        raise ValueError("a model file holds a JSON object")
    return parsed
