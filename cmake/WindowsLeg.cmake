# The Windows leg of the tests, included by tests/CMakeLists.txt.
#
# The Windows programs are cross-built with mingw-w64 from the same sources
# into <build>/windows/ (an external project with cmake/mingw-i686.cmake as
# its toolchain), then windows_tests runs the end-to-end rows against them
# under Wine, compares each row with the Linux build, and reads their PE
# headers. Wine runs in a prefix of its own that the fixture tests
# wine_prefix_start and wine_prefix_stop make and remove once per test run.
#
# Where the cross compiler or Wine is missing, the test windows_leg says why
# and is skipped; under CI (CI set and not "false") it fails instead.
option(WINDOWS_LEG "Build the Windows programs and run the tests against them under Wine" ON)
if(NOT WINDOWS_LEG)
  message(STATUS "Windows leg: off (WINDOWS_LEG=OFF)")
  return()
endif()

set(WINE_RUNNER ${PROJECT_SOURCE_DIR}/tests/run-under-wine.sh)
find_program(MINGW_CXX i686-w64-mingw32-g++)
find_program(MINGW_OBJDUMP i686-w64-mingw32-objdump)
find_program(WINE wine)

set(missing "")
if(NOT MINGW_CXX)
  set(missing "i686-w64-mingw32-g++ is not installed (package g++-mingw-w64-i686)")
elseif(NOT MINGW_OBJDUMP)
  set(missing "i686-w64-mingw32-objdump is not installed (package binutils-mingw-w64-i686)")
elseif(NOT WINE)
  set(missing "wine is not installed (packages wine and wine32:i386)")
else()
  execute_process(COMMAND sh ${WINE_RUNNER} --probe RESULT_VARIABLE status
                  OUTPUT_VARIABLE how OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(missing "${how}")
  endif()
endif()

if(missing)
  message(STATUS "Windows leg: skipped, ${missing}")
  add_test(NAME windows_leg
           COMMAND sh -c "echo 'Windows leg skipped: ${missing}.'
                          case \"\${CI:-}\" in ''|false) exit 77 ;; esac
                          echo 'CI must run it: .ci/run installs what it needs.'
                          exit 1")
  set_tests_properties(windows_leg PROPERTIES SKIP_RETURN_CODE 77)
  return()
endif()
message(STATUS "Windows leg: ${MINGW_CXX}; ${how}")

include(ExternalProject)
set(WINDOWS_BUILD_DIR ${CMAKE_BINARY_DIR}/windows)
ExternalProject_Add(windows_programs
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${WINDOWS_BUILD_DIR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-i686.cmake
             -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTEST_PROGRAMS=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target unpack Vellomar pack platform_probe unpack_faults
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${WINDOWS_BUILD_DIR}/unpack.exe ${WINDOWS_BUILD_DIR}/Vellomar.exe
                   ${WINDOWS_BUILD_DIR}/pack.exe
                   ${WINDOWS_BUILD_DIR}/platform_probe.exe ${WINDOWS_BUILD_DIR}/unpack_faults.exe)

set(WINE_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/wine-prefix)
add_test(NAME wine_prefix_start COMMAND sh ${WINE_RUNNER} --start ${WINE_PREFIX})
add_test(NAME wine_prefix_stop COMMAND sh ${WINE_RUNNER} --stop ${WINE_PREFIX})
set_tests_properties(wine_prefix_start PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 600)
set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix)

add_executable(windows_tests windows_e2e_test.cpp windows_truncation_test.cpp pe_headers_test.cpp
                             platform_facts_test.cpp checker_windows_test.cpp
                             windows_driver.cpp windows_fault_matrix_test.cpp full_volume_test.cpp
                             windows_pack_test.cpp)
target_compile_definitions(windows_tests PRIVATE
  UNPACK_PATH="$<TARGET_FILE:unpack>" VELLOMAR_PATH="$<TARGET_FILE:Vellomar>"
  PACK_PATH="$<TARGET_FILE:pack>"
  WINDOWS_UNPACK_PATH="${WINDOWS_BUILD_DIR}/unpack.exe"
  WINDOWS_VELLOMAR_PATH="${WINDOWS_BUILD_DIR}/Vellomar.exe"
  WINDOWS_PACK_PATH="${WINDOWS_BUILD_DIR}/pack.exe"
  WINDOWS_PROBE_PATH="${WINDOWS_BUILD_DIR}/platform_probe.exe"
  WINDOWS_FAULTS_PATH="${WINDOWS_BUILD_DIR}/unpack_faults.exe"
  WINE_RUNNER="${WINE_RUNNER}" WINE_PREFIX="${WINE_PREFIX}" OBJDUMP_PATH="${MINGW_OBJDUMP}")
target_link_libraries(windows_tests PRIVATE checker_cases GTest::gtest_main)
add_dependencies(windows_tests windows_programs unpack Vellomar pack)
gtest_discover_tests(windows_tests PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 300)
