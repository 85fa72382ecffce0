"""The in-tree build backend of pyvornlex (PEP 517).

It drives the project's CMake build and zips the result into a wheel itself,
so it needs neither setuptools nor the wheel package: `pip install
--no-build-isolation .` works on a machine without a package index, and a
plain `pip install .` fetches only cmake and pybind11 when it has one.

Config settings (pip install --config-settings KEY=VALUE):
  build-dir   keep the CMake build there, so that a rebuild is incremental
              (default: a temporary directory, removed afterwards)
  cmake-args  further arguments for the configure step (also from $CMAKE_ARGS)
"""

import os
import shlex
import shutil
import tempfile

from . import cmake_build, project, sdist, wheel

_GENERATOR = "pyvornlex_build"


def _source_dir():
    # Front ends call the hooks from the root of the source tree.
    return os.getcwd()


def _names():
    metadata = project.read_project(_source_dir())
    base = "%s-%s" % (project.distribution_name(metadata), metadata["version"])
    return metadata, base


def _dist_info_files(metadata):
    return {
        "METADATA": project.core_metadata(metadata, _source_dir()),
        "WHEEL": wheel.wheel_metadata(_GENERATOR),
    }


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    metadata, base = _names()
    dist_info = base + ".dist-info"
    os.makedirs(os.path.join(metadata_directory, dist_info), exist_ok=True)
    for name, text in _dist_info_files(metadata).items():
        with open(os.path.join(metadata_directory, dist_info, name), "w",
                  encoding="utf-8") as handle:
            handle.write(text)
    return dist_info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    settings = config_settings or {}
    metadata, base = _names()
    extra = shlex.split(os.environ.get("CMAKE_ARGS", "")) + shlex.split(
        settings.get("cmake-args", ""))
    with tempfile.TemporaryDirectory(prefix="pyvornlex-build-") as scratch:
        build_dir = os.path.abspath(settings.get("build-dir") or os.path.join(scratch, "build"))
        staging_dir = os.path.join(scratch, "staging")
        cmake_build.build_into(_source_dir(), build_dir, staging_dir, extra)
        file_name = "%s-%s.whl" % (base, wheel.wheel_tag())
        partial = os.path.join(wheel_directory, file_name + ".part")
        wheel.write_wheel(partial, staging_dir, base + ".dist-info", _dist_info_files(metadata))
        shutil.move(partial, os.path.join(wheel_directory, file_name))
    return file_name


def build_sdist(sdist_directory, config_settings=None):
    metadata, base = _names()
    file_name = base + ".tar.gz"
    sdist.write_sdist(os.path.join(sdist_directory, file_name), _source_dir(), base,
                      project.core_metadata(metadata, _source_dir()))
    return file_name
