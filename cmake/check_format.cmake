# Fails, naming each file, when a C++ file under src/, tests/ or examples/ is
# not as clang-format leaves it with the repository's .clang-format.
#
#   cmake -DCLANG_FORMAT=<program> -DSOURCE_DIR=<repository> -P check_format.cmake
if(NOT CLANG_FORMAT)
    message(FATAL_ERROR "clang-format not found (scripts/setup.sh installs it)")
endif()
execute_process(COMMAND "${CLANG_FORMAT}" --version OUTPUT_VARIABLE version
    OUTPUT_STRIP_TRAILING_WHITESPACE)

set(patterns "")
foreach(dir src tests examples)
    foreach(ext cpp h hpp cc)
        list(APPEND patterns "${SOURCE_DIR}/${dir}/*.${ext}")
    endforeach()
endforeach()
file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" ${patterns})
list(SORT files)
if(NOT files)
    message(FATAL_ERROR "no C++ files under ${SOURCE_DIR}/src or ${SOURCE_DIR}/tests")
endif()

execute_process(COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${files}
    WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE result ERROR_VARIABLE diagnostics)
if(result EQUAL 0)
    list(LENGTH files count)
    message(STATUS "${count} files formatted (${version})")
    return()
endif()

string(REGEX MATCHALL "(^|\n)[^\n:]+:[0-9]+:[0-9]+: error:" locations "${diagnostics}")
set(drifted "")
foreach(location IN LISTS locations)
    string(REGEX REPLACE "^\n?([^\n:]+):.*" "\\1" file "${location}")
    list(APPEND drifted "${file}")
endforeach()
list(REMOVE_DUPLICATES drifted)
if(NOT drifted)
    message(FATAL_ERROR "${CLANG_FORMAT} failed (${result}):\n${diagnostics}")
endif()
list(JOIN drifted "\n  " listed)
list(JOIN drifted " " arguments)
message("${diagnostics}")
message(FATAL_ERROR "not formatted by ${version}:\n  ${listed}\n"
    "Fix with: clang-format -i ${arguments}")
