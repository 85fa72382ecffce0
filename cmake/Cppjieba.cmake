# Brings in cppjieba 5.1.3 (header-only, with limonp) and its standard
# dictionaries at configure time, through scripts/fetch_cppjieba.sh, and offers
# the headers as the INTERFACE target vorn_cppjieba. The headers are system
# headers so that the library's own warnings don't bury ours.
#
# Sets VORN_CPPJIEBA_DICT_DIR to the directory that holds the dictionaries.

include_guard(GLOBAL)

set(_vorn_cppjieba_dir "${PROJECT_BINARY_DIR}/third_party/cppjieba")
set(_vorn_cppjieba_script "${PROJECT_SOURCE_DIR}/scripts/fetch_cppjieba.sh")
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                                              "${_vorn_cppjieba_script}")

execute_process(
    COMMAND bash "${_vorn_cppjieba_script}" "${_vorn_cppjieba_dir}"
    RESULT_VARIABLE _vorn_cppjieba_rc)
if(NOT _vorn_cppjieba_rc EQUAL 0)
    message(FATAL_ERROR
        "Could not fetch cppjieba into ${_vorn_cppjieba_dir} (see above). "
        "It comes from the npm package nodejieba 3.4.2: `npm` must be installed "
        "(bash scripts/setup.sh) and reach the npm registry, or the tarball must "
        "already be in the cache.")
endif()

add_library(vorn_cppjieba INTERFACE)
target_include_directories(vorn_cppjieba SYSTEM INTERFACE
    "${_vorn_cppjieba_dir}/include"
    "${_vorn_cppjieba_dir}/deps/limonp/include")
# cppjieba checks data with plain asserts (a positive frequency, a non-empty
# IDF table); the facade's own checks and the library's fallbacks cover what
# matters, so the asserts must never abort, whatever the configuration.
target_compile_definitions(vorn_cppjieba INTERFACE NDEBUG)

set(VORN_CPPJIEBA_DICT_DIR "${_vorn_cppjieba_dir}/dict")
