# nlohmann/json: the system package (Debian 12 carries 3.11.2) natively and for
# MSVC through vcpkg. For the MinGW cross build the package's CMake config
# would add the host's /usr/include to a Windows compile, so we expose only
# the header folder through a private include directory.
set(LENTICOR_JSON_MIN_VERSION 3.11.2)

if(CMAKE_CROSSCOMPILING AND MINGW)
    find_path(LENTICOR_JSON_INCLUDE_DIR nlohmann/json.hpp
        PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH REQUIRED)
    # 3.11 keeps the version macros in detail/abi_macros.hpp, older ones in json.hpp.
    set(_json_version_file "${LENTICOR_JSON_INCLUDE_DIR}/nlohmann/detail/abi_macros.hpp")
    if(NOT EXISTS "${_json_version_file}")
        set(_json_version_file "${LENTICOR_JSON_INCLUDE_DIR}/nlohmann/json.hpp")
    endif()
    file(STRINGS "${_json_version_file}" _json_version_lines
        REGEX "#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) +[0-9]+")
    set(_json_version "")
    foreach(_line IN LISTS _json_version_lines)
        string(REGEX REPLACE ".*_(MAJOR|MINOR|PATCH) +([0-9]+).*" "\\2" _part "${_line}")
        list(APPEND _json_version "${_part}")
    endforeach()
    list(JOIN _json_version "." _json_version)
    if(_json_version VERSION_LESS LENTICOR_JSON_MIN_VERSION)
        message(FATAL_ERROR "nlohmann/json ${_json_version} found; ${LENTICOR_JSON_MIN_VERSION} or later needed")
    endif()
    set(_json_shim "${CMAKE_BINARY_DIR}/third_party/include")
    file(MAKE_DIRECTORY "${_json_shim}")
    file(CREATE_LINK "${LENTICOR_JSON_INCLUDE_DIR}/nlohmann" "${_json_shim}/nlohmann" SYMBOLIC)
    add_library(nlohmann_json INTERFACE)
    target_include_directories(nlohmann_json SYSTEM INTERFACE "${_json_shim}")
    add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)
else()
    find_package(nlohmann_json ${LENTICOR_JSON_MIN_VERSION} CONFIG REQUIRED)
endif()
