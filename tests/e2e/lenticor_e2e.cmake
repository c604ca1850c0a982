# lenticor_e2e_cases(<exe> <label> <fixture> <case files...>)
# One ctest test per case file; tools/run_case.py runs it (see that file for
# the case format). Helper programs for background steps come from the list
# LENTICOR_E2E_HELPERS (NAME=PATH entries).
function(lenticor_e2e_cases exe label fixture)
    set(helper_args "")
    foreach(helper IN LISTS LENTICOR_E2E_HELPERS)
        list(APPEND helper_args --helper "${helper}")
    endforeach()
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
    endforeach()
endfunction()
