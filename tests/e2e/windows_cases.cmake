# The cases of windows_cases.txt once more, over the console driver
# (windows_cases.py), as the hosted Windows workflow runs them: each reads
# the installer's console buffer from a Windows program instead of a
# pseudo-terminal. Included by tests/CMakeLists.txt for the Windows builds.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TG_E2E}/windows_cases.txt)
file(STRINGS ${TG_E2E}/windows_cases.txt TG_DRIVER_CASES REGEX "^test_")
foreach(case ${TG_DRIVER_CASES})
  add_test(NAME e2e.driver.${case}
           COMMAND ${TG_E2E}/in-slot ${Python3_EXECUTABLE} ${TG_E2E}/windows_cases.py
                   --report ${CMAKE_BINARY_DIR}/artefacts/driver/${case} --skip-code 77 ${case}
           WORKING_DIRECTORY ${TG_E2E})
  set_tests_properties(e2e.driver.${case} PROPERTIES
    ENVIRONMENT "${TG_WINE_ENV};TG_INSTALLER=$<TARGET_FILE:ThistlegardenPatch>;${TG_HELPERS_ENV}"
    TIMEOUT 900 FIXTURES_REQUIRED wine RESOURCE_GROUPS "wineslot:1" SKIP_RETURN_CODE 77)
endforeach()
