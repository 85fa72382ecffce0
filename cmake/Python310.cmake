# Locates the Python 3.10 interpreter the module is built for.
#
# Order: an explicit -DPython_EXECUTABLE wins; otherwise `python3.10` when it
# actually runs (a pyenv shim may exist without a selected version); otherwise
# the newest 3.10 under `pyenv root`. Any other version stops the configure.

function(_vorn_python_version exe out_var)
    execute_process(
        COMMAND "${exe}" -c "import sys; print('%d.%d' % sys.version_info[:2])"
        RESULT_VARIABLE rc
        OUTPUT_VARIABLE version
        OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET)
    if(rc EQUAL 0)
        set(${out_var} "${version}" PARENT_SCOPE)
    else()
        set(${out_var} "" PARENT_SCOPE)
    endif()
endfunction()

if(NOT Python_EXECUTABLE)
    find_program(_vorn_python310 NAMES python3.10)
    if(_vorn_python310)
        _vorn_python_version("${_vorn_python310}" _vorn_found_version)
        if(_vorn_found_version STREQUAL "3.10")
            set(Python_EXECUTABLE "${_vorn_python310}")
        endif()
    endif()
endif()

if(NOT Python_EXECUTABLE)
    execute_process(
        COMMAND pyenv root
        OUTPUT_VARIABLE _vorn_pyenv_root
        OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE _vorn_pyenv_rc
        ERROR_QUIET)
    if(NOT _vorn_pyenv_rc EQUAL 0 OR NOT _vorn_pyenv_root)
        if(DEFINED ENV{PYENV_ROOT})
            set(_vorn_pyenv_root "$ENV{PYENV_ROOT}")
        else()
            set(_vorn_pyenv_root "$ENV{HOME}/.pyenv")
        endif()
    endif()
    file(GLOB _vorn_pyenv_candidates "${_vorn_pyenv_root}/versions/3.10.*/bin/python3.10")
    if(_vorn_pyenv_candidates)
        list(SORT _vorn_pyenv_candidates COMPARE NATURAL ORDER DESCENDING)
        list(GET _vorn_pyenv_candidates 0 _vorn_pyenv_python)
        set(Python_EXECUTABLE "${_vorn_pyenv_python}")
    endif()
endif()

if(NOT Python_EXECUTABLE)
    message(FATAL_ERROR
        "pyvornlex needs Python 3.10: no `python3.10` runs and none is installed under pyenv. "
        "Install Python 3.10 or pass -DPython_EXECUTABLE=/path/to/python3.10.")
endif()

_vorn_python_version("${Python_EXECUTABLE}" _vorn_found_version)
if(NOT _vorn_found_version STREQUAL "3.10")
    message(FATAL_ERROR
        "pyvornlex is built for Python 3.10, but ${Python_EXECUTABLE} is Python "
        "'${_vorn_found_version}'. Pass -DPython_EXECUTABLE=/path/to/python3.10.")
endif()

set(Python_EXECUTABLE "${Python_EXECUTABLE}" CACHE FILEPATH "Python 3.10 interpreter" FORCE)
find_package(Python 3.10 EXACT REQUIRED COMPONENTS Interpreter Development.Module)
message(STATUS "pyvornlex: building for ${Python_EXECUTABLE} (${Python_VERSION})")

# Where `cmake --install` puts the module, its stubs and pyvornlex_data: by
# default this interpreter's own site-packages, so that a plain install is
# importable at once; the pip build passes "." (relative: below the install
# prefix, its staging directory).
set(VORN_PYTHON_INSTALL_DIR "${Python_SITEARCH}" CACHE STRING
    "Install directory of the Python module and its companions")
