"""pyvornlex_search's native helpers (csrc/search): posting blocks and the top-k plan."""

from array import array
from typing import Callable, Iterable, Sequence

BLOCK: int

_Rows = list[tuple[bytes, bytes]]


def encode_block(docs: array, tfs: array) -> tuple[bytes, bytes]: ...  # type: ignore[type-arg]


def decode_blocks(rows: Iterable[tuple[bytes, bytes]]) -> tuple[bytes, bytes]: ...


class PostingAccumulator:
    def __init__(self, first_doc: int, limit: int, block: int = ...) -> None: ...

    def add_documents(self, docs: array, counts: array,  # type: ignore[type-arg]
                      tokens: array) -> None: ...  # type: ignore[type-arg]

    def end_batch(self) -> list[tuple[int, int, bytes, bytes, int, int, int, int]]: ...

    def flush(self) -> list[tuple[int, int, bytes, bytes, int, int, int, int]]: ...

    def lengths(self) -> bytes: ...


class Ranker:
    def __init__(self) -> None: ...

    def top_k(self, terms: Sequence[tuple[float, float, float, int]], k: int,
              normalisers: array,  # type: ignore[type-arg]
              all_blocks: Callable[[int], _Rows], block_keys: Callable[[int], list[int]],
              blocks: Callable[[int, list[int]], _Rows],
              removed: bool = False) -> list[tuple[int, float]]: ...
