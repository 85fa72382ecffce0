"""Merging BM25 models trained on shards of one corpus into the model of the
whole corpus: the reduce step of training on many processes or machines.

BM25's statistics add up. Each worker trains a ``BM25`` on its shard and
ships the model's file text (``model_bytes`` or ``model_text``: a ``BM25``
cannot be pickled); the driver merges the texts into one, which ``load``
accepts and which is laid out byte for byte as ``dump`` lays out a file::

    from pyvornlex import BM25
    from pyvornlex_merge import merge_texts, model_bytes, write_model

    shard_texts = [model_bytes(model) for model in shard_models]   # in the workers
    write_model("model.json", merge_texts(shard_texts))            # on the driver

Document and token counts add up exactly. The file keeps the average length
to six decimals, from which ``load`` rebuilds a shard's length total: that
total is exact for models of at most a million documents (docs/model-file.md,
"What is exact and what rounds"). ``python -m pyvornlex_merge MERGED SHARD...``
merges files.
"""

from .errors import CountOverflowError, MergeError
from .merge import merge_files, merge_texts
from .model import model_bytes, model_text, write_model

__all__ = ["CountOverflowError", "MergeError", "merge_files", "merge_texts", "model_bytes",
           "model_text", "write_model"]
