# The suites of the Windows build, run under Wine (the toolchain's CMAKE_CROSSCOMPILING_EMULATOR).
# The same test sources as on Linux; files that need what only the Linux runs have (an X display,
# nginx, PCRE2 as an oracle, the Linux tools) are listed here with the reason. A crash under Wine
# hangs instead of ending, so every test has a time limit.
set(VEXAL_WIN32_TIMEOUT 120)

function(vexal_win32_suite area)
  cmake_parse_arguments(SUITE "" "" "EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/*.cpp)
  foreach(name ${SUITE_EXCLUDE})
    list(FILTER sources EXCLUDE REGEX "/${area}/${name}\\.cpp$")
  endforeach()
  add_executable(test_${area} ${sources})
  target_link_libraries(test_${area} PRIVATE vexal_test_support GTest::gtest_main)
  gtest_discover_tests(test_${area} TEST_PREFIX "${area}." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS ${area} TIMEOUT ${VEXAL_WIN32_TIMEOUT})
endfunction()

vexal_win32_suite(common)
# RegexDifferentialTest: PCRE2 (the oracle) is a Linux package. RegexToolTest: vexal-regex is
# built for Linux only.
vexal_win32_suite(regex EXCLUDE RegexDifferentialTest RegexToolTest)
vexal_win32_suite(script)
# InterfaceListTest: the interface list it fakes is the one of Linux (getifaddrs).
vexal_win32_suite(platform EXCLUDE InterfaceListTest)
vexal_embed_assets(test_platform ${CMAKE_CURRENT_SOURCE_DIR}/data/platform/embedded)
vexal_embed_assets(test_platform ${CMAKE_CURRENT_SOURCE_DIR}/data/platform/embedded-more)
vexal_win32_suite(web)
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/loader)
# A whole headless run and a warm one: the Windows host, library and demo module against nginx,
# which runs on the Linux side (support/win32/NginxServer.cpp).
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/e2e)
# Whole host runs under faults; its folder's list says what is skipped here and why.
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/faults)
# Many loading runs in one process, fewer than on Linux; growth read from Windows' own counters.
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/soak)

# The library itself: its export table, and three load / run / delete / unload rounds in one
# process ending in an ordinary exit, within a time limit.
add_executable(test_library ${CMAKE_CURRENT_SOURCE_DIR}/win32/LibraryTest.cpp)
target_link_libraries(test_library PRIVATE vexal_test_support GTest::gtest_main)
target_compile_definitions(test_library PRIVATE VEXAL_LOADER_LIBRARY="$<TARGET_FILE_NAME:Vexal3DLoader-Flash>")
add_dependencies(test_library Vexal3DLoader-Flash)
gtest_discover_tests(test_library TEST_PREFIX "loader." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES LABELS loader TIMEOUT ${VEXAL_WIN32_TIMEOUT})
add_executable(test_unload_rounds ${CMAKE_CURRENT_SOURCE_DIR}/win32/UnloadRounds.cpp)
target_link_libraries(test_unload_rounds PRIVATE vexal_test_support)
add_test(NAME loader.UnloadRoundsEndCleanly COMMAND test_unload_rounds $<TARGET_FILE_NAME:Vexal3DLoader-Flash>
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(loader.UnloadRoundsEndCleanly PROPERTIES LABELS loader TIMEOUT 60
  PASS_REGULAR_EXPRESSION "three rounds ended")

# The loading screen in real windows: the window services, the GDI+ drawing and the default
# screen read back from the window (Xvfb at the depth the test command chose).
add_executable(test_window ${CMAKE_CURRENT_SOURCE_DIR}/win32/ScreenTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/screens/TestImages.cpp)
target_link_libraries(test_window PRIVATE vexal_test_support GTest::gtest_main)
gtest_discover_tests(test_window TEST_PREFIX "window." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES LABELS window TIMEOUT ${VEXAL_WIN32_TIMEOUT})

# The README's Windows host example: C11, the public header alone, warnings as errors.
add_executable(readme_host_example ${CMAKE_CURRENT_SOURCE_DIR}/win32/EmbedExample.c)
set_target_properties(readme_host_example PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_include_directories(readme_host_example PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_compile_options(readme_host_example PRIVATE -Werror)
target_link_libraries(readme_host_example PRIVATE gdiplus)

# A game module that is ready at once, for the whole load the Windows zip's test runs.
add_library(ready-module SHARED ${CMAKE_CURRENT_SOURCE_DIR}/win32/ReadyModule.cpp)
set_target_properties(ready-module PROPERTIES PREFIX "" OUTPUT_NAME "ready-module" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_include_directories(ready-module PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_link_options(ready-module PRIVATE -static -Wl,--kill-at)

# HTTPS against the system's certificate store: unvouched certificates are refused; one the
# system vouches for is accepted, once Wine's store carries the test authority (which
# with-test-authority arranges in a mount namespace of the test's own).
add_executable(test_https ${CMAKE_CURRENT_SOURCE_DIR}/win32/HttpsTrustTest.cpp)
target_link_libraries(test_https PRIVATE vexal_test_support GTest::gtest_main crypt32)
foreach(case UnvouchedCertificatesAreRefused CertificateTheSystemVouchesForIsAccepted)
  add_test(NAME web.HttpsTrust.${case} COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/with-test-authority
    ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:test_https> --gtest_filter=HttpsTrust.${case})
  set_tests_properties(web.HttpsTrust.${case} PROPERTIES LABELS web TIMEOUT 60 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endforeach()
