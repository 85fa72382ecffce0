"""The shards of a merge: model texts in memory or model files, read line by
line, and laid out again through the module when their text is not dump's."""

import io
import os
from contextlib import contextmanager
from typing import TYPE_CHECKING, Iterator, Optional, Union, cast

from .errors import MergeError

if TYPE_CHECKING:
    from pyvornlex import BM25

__all__ = ["Shard"]


class Shard:
    """One model text, given as its bytes or as the path of its file.

    ``label`` names it in error messages.
    """

    def __init__(self, label: str, data: Optional[bytes] = None,
                 path: Optional[str] = None) -> None:
        self.label = label
        self._data = data
        self._path = path
        self.laid_out_again = False

    @classmethod
    def of_text(cls, text: Union[str, bytes], number: int, count: int) -> "Shard":
        label = "text %d of %d" % (number, count)
        if isinstance(text, str):
            try:
                return cls(label, data=text.encode("utf-8"))
            except UnicodeEncodeError as error:
                raise MergeError(
                    "%s is a str without a UTF-8 form (%s), which load refuses; text read "
                    "with errors='surrogateescape' should be passed as the file's bytes"
                    % (label, error.reason)) from None
        if isinstance(text, (bytes, bytearray)):
            return cls(label, data=bytes(text))
        hint = (": merge_files merges files" if isinstance(text, os.PathLike) else "")
        raise TypeError("%s is a %s, not a model text (str or bytes)%s"
                        % (label, type(text).__name__, hint))

    @contextmanager
    def lines(self) -> Iterator[Iterator[bytes]]:
        if self._data is not None:
            yield iter(io.BytesIO(self._data))
        else:
            with open(cast(str, self._path), "rb") as handle:
                yield iter(handle)

    def _read(self) -> bytes:
        if self._data is not None:
            return self._data
        with open(cast(str, self._path), "rb") as handle:
            return handle.read()

    def lay_out_again(self, path: str) -> None:
        """Loads the text into a throwaway model and dumps it to ``path``, which
        then stands for the shard: load is the judge of what is a model.

        Raises MergeError when load refuses the text, or when the model it
        loads could not be written back (a number that is not finite).
        """
        from pyvornlex import BM25

        model: "BM25" = BM25()
        try:
            # The binding takes the file's bytes as they are; its stubs say str.
            model.load(cast(str, self._read()))
        except (RuntimeError, ValueError, IndexError, TypeError) as error:
            raise MergeError("%s is not a model that load accepts (%s: %s)"
                             % (self.label, type(error).__name__, error)) from None
        try:
            model.dump(path)
        except ValueError as error:
            raise MergeError("%s loads, but as a model that no file can hold (%s)"
                             % (self.label, error)) from None
        self._data, self._path = None, path
        self.laid_out_again = True
