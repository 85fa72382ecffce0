"""Writes a source distribution: the files git tracks, plus PKG-INFO."""

import io
import os
import subprocess
import tarfile

# Used when the source tree is no git checkout (an unpacked sdist, say).
_TOP_LEVEL = ("CMakeLists.txt", "README.md", "pyproject.toml", "pip_backend", "cmake", "csrc",
              "docs", "examples", "python", "scripts", "tests")


def _tracked_files(source_dir):
    try:
        listing = subprocess.run(["git", "ls-files", "-z"], cwd=source_dir, check=True,
                                 capture_output=True).stdout
    except (OSError, subprocess.CalledProcessError):
        listing = b""
    files = [name.decode() for name in listing.split(b"\0") if name]
    if files:
        return [f for f in files if os.path.isfile(os.path.join(source_dir, f))]
    found = []
    for entry in _TOP_LEVEL:
        full = os.path.join(source_dir, entry)
        if os.path.isfile(full):
            found.append(entry)
        for directory, subdirectories, names in os.walk(full):
            subdirectories[:] = [d for d in subdirectories if d != "__pycache__"]
            found += [os.path.relpath(os.path.join(directory, n), source_dir) for n in names]
    return found


def write_sdist(path, source_dir, base_name, pkg_info):
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as archive:
        for name in sorted(_tracked_files(source_dir)):
            archive.add(os.path.join(source_dir, name), arcname="%s/%s" % (base_name, name),
                        recursive=False)
        data = pkg_info.encode("utf-8")
        info = tarfile.TarInfo("%s/PKG-INFO" % base_name)
        info.size = len(data)
        info.mode = 0o644
        archive.addfile(info, io.BytesIO(data))
