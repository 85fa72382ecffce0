"""What a refused merge raises."""

__all__ = ["CountOverflowError", "MergeError"]


class MergeError(ValueError):
    """The shards cannot be merged into one model; nothing was written.

    The message names the shard (its path, or its place among the texts) and
    what is wrong with it.
    """


class CountOverflowError(MergeError, OverflowError):
    """A merged count would pass 2,147,483,647, the model file's limit."""
