"""Files that the companion packages share: the model file's layout
(model_file) and the atomic replacement of a file (atomic). Private: the
public faces are pyvornlex_merge and pyvornlex_search."""
