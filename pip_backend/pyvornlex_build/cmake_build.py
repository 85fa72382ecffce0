"""Configures, builds and installs the project with CMake into a staging
directory whose layout is the wheel's."""

import os
import shlex
import shutil
import subprocess
import sys


def _run(command, **kwargs):
    print("pyvornlex_build: " + " ".join(shlex.quote(part) for part in command),
          file=sys.stderr, flush=True)
    subprocess.run(command, check=True, **kwargs)


def _pybind11_arguments():
    # An isolated build gets pybind11 from the index as a Python package; an
    # offline build leaves it to the configure step, which fetches its own.
    try:
        import pybind11
    except ImportError:
        return []
    return ["-Dpybind11_DIR=" + pybind11.get_cmake_dir()]


def _parallel_jobs():
    return os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)


def build_into(source_dir, build_dir, staging_dir, extra_arguments):
    """Builds the module for the running interpreter and installs the module,
    its stubs and pyvornlex_data (with the dictionaries) into staging_dir."""
    cmake = shutil.which("cmake")
    if cmake is None:
        raise RuntimeError("pyvornlex needs CMake 3.18 or newer on PATH to build "
                           "(Debian: apt-get install cmake)")
    _run([cmake, "-S", source_dir, "-B", build_dir,
          "-DCMAKE_BUILD_TYPE=Release",
          "-DVORN_BUILD_TESTS=OFF",
          "-DPython_EXECUTABLE=" + sys.executable,
          "-DVORN_PYTHON_INSTALL_DIR=."]
         + _pybind11_arguments() + extra_arguments)
    _run([cmake, "--build", build_dir, "--parallel", _parallel_jobs()])
    _run([cmake, "--install", build_dir, "--prefix", staging_dir, "--strip"])
