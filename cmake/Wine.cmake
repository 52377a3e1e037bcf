# Running the build's Windows programs in a prefix private to this build folder: wine64 for
# x86_64, and for i686 the 32-bit Wine of the i386 root that scripts/bootstrap makes (run by
# qemu-i386, see cmake/wine/i386-enter). Build-time tools and the tests go through
# cmake/wine/wine-run; the tests additionally run inside a session (an Xvfb display and a
# persistent wineserver) that CTest starts and stops.
set(ZQ_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
foreach(f wine-env.sh wine-run wine-session i386-enter)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/wine/${f} ${ZQ_WINE_DIR}/${f} COPYONLY)
endforeach()
if(ZQ_ARCH STREQUAL "x86_64")
  set(ZQ_WINE_ARCH win64)
else()
  set(ZQ_WINE_ARCH win32)
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine/wine-config.sh.in ${ZQ_WINE_DIR}/wine-config.sh @ONLY)
set(ZQ_WINE_CONFIG ${ZQ_WINE_DIR}/wine-config.sh)
set(ZQ_WINE_RUN ${ZQ_WINE_DIR}/wine-run)

# Both builds run what they build.
set(ZQ_CAN_RUN ON)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZQ_WINE_RUN})

set(ZQ_TEST_OUTPUT_DIR ${CMAKE_BINARY_DIR}/test-output)
file(MAKE_DIRECTORY ${ZQ_TEST_OUTPUT_DIR})

function(zq_wine_session_fixture)
  add_test(NAME wine.session.start COMMAND ${ZQ_WINE_DIR}/wine-session start)
  add_test(NAME wine.session.stop COMMAND ${ZQ_WINE_DIR}/wine-session stop)
  set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine_session)
  set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine_session)
endfunction()

# zq_gtest(<target>): one CTest test running the whole GoogleTest executable under Wine.
# Each run writes its GoogleTest XML report, from which the summary counts the test cases.
function(zq_gtest target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "ENVIRONMENT" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${target}
    COMMAND ${target} --gtest_output=xml:Z:${ZQ_TEST_OUTPUT_DIR}/${target}.xml
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(${target} PROPERTIES
    FIXTURES_REQUIRED wine_session
    # One at a time on the shared display: windows, focus and the mouse are all there is.
    RESOURCE_LOCK wine_display
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "ZQ_TEST_OUTPUT_DIR=${ZQ_TEST_OUTPUT_DIR};${ARG_ENVIRONMENT}")
endfunction()
