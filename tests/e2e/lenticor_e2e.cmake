# lenticor_e2e_cases(<exe> <label> <fixture> <case files...>)
# One ctest test per case file; tools/run_case.py runs it (see that file for
# the case format). Helper programs for background steps come from the list
# LENTICOR_E2E_HELPERS (NAME=PATH entries); the test nvapi64.dll from
# LENTICOR_E2E_NVAPI_DLL. Cases that use the driver library in the shared Wine
# prefix take the lock "nvapi64", so no two of them meet in system32.
function(lenticor_e2e_cases exe label fixture)
    set(helper_args "")
    foreach(helper IN LISTS LENTICOR_E2E_HELPERS)
        list(APPEND helper_args --helper "${helper}")
    endforeach()
    if(LENTICOR_E2E_NVAPI_DLL)
        list(APPEND helper_args --nvapi-dll "${LENTICOR_E2E_NVAPI_DLL}")
    endif()
    foreach(case_file IN LISTS ARGN)
        get_filename_component(case_name "${case_file}" NAME_WE)
        set(test_name "${label}.${case_name}")
        add_test(NAME "${test_name}"
            COMMAND "${Python3_EXECUTABLE}" "${LENTICOR_RUN_CASE}"
                --exe "${exe}" --kind "${label}"
                --work "${CMAKE_CURRENT_BINARY_DIR}/work/${case_name}"
                --state "${CMAKE_BINARY_DIR}/e2e-state"
                ${helper_args}
                "${case_file}")
        set_tests_properties("${test_name}" PROPERTIES LABELS "${label}")
        if(fixture)
            set_tests_properties("${test_name}" PROPERTIES FIXTURES_REQUIRED "${fixture}")
        endif()
        file(READ "${case_file}" case_text)
        if(case_text MATCHES "\"nvapi\"|--gl-present-method")
            set_tests_properties("${test_name}" PROPERTIES RESOURCE_LOCK nvapi64)
        endif()
    endforeach()
endfunction()
