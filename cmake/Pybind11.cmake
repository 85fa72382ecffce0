# Brings in pybind11 2.13 (header-only) and finds its CMake package. A
# pybind11_DIR given on the command line wins (pip's isolated build passes
# the pybind11 it installed); otherwise scripts/fetch_pybind11.sh fetches
# Debian's 2.13.6 package into the build tree at configure time. Versions
# before 2.12 write signatures as List[str] and Dict[str, float] instead of
# the list[str] and dict[str, float] that the module documents.

include_guard(GLOBAL)

set(_vorn_pybind11_dir "${PROJECT_BINARY_DIR}/third_party/pybind11")
set(_vorn_pybind11_cmake_dir "${_vorn_pybind11_dir}/usr/lib/cmake/pybind11")
set(_vorn_pybind11_script "${PROJECT_SOURCE_DIR}/scripts/fetch_pybind11.sh")
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                                              "${_vorn_pybind11_script}")

set(PYBIND11_FINDPYTHON ON)

# A pybind11_DIR left in the cache by an older build may name Debian's 2.10;
# such a directory is passed over for the fetched package rather than failing.
if(pybind11_DIR AND NOT pybind11_DIR STREQUAL _vorn_pybind11_cmake_dir)
    set(_vorn_pybind11_given "${pybind11_DIR}")
    find_package(pybind11 2.12 CONFIG QUIET)
    if(NOT pybind11_FOUND)
        message(STATUS "pyvornlex: pybind11 in ${_vorn_pybind11_given} is older than 2.12; "
                       "using the fetched 2.13.6")
    endif()
endif()

if(NOT pybind11_FOUND)
    execute_process(COMMAND bash "${_vorn_pybind11_script}" "${_vorn_pybind11_dir}"
                    RESULT_VARIABLE _vorn_pybind11_rc)
    if(NOT _vorn_pybind11_rc EQUAL 0)
        message(FATAL_ERROR
            "Could not fetch pybind11 into ${_vorn_pybind11_dir} (see above). It is "
            "Debian's package pybind11-dev 2.13.6-2, downloaded with apt-get from "
            "deb.debian.org (trixie) on the first build and then cached; or pass "
            "-Dpybind11_DIR=<dir of pybind11Config.cmake> for a pybind11 2.12 or newer.")
    endif()
    set(pybind11_DIR "${_vorn_pybind11_cmake_dir}" CACHE PATH "pybind11's CMake package" FORCE)
    find_package(pybind11 2.12 CONFIG REQUIRED)
endif()
