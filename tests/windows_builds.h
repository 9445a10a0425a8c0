// The two builds that the Windows-side tests run and compare, as this test
// program was configured with them (defined in windows_e2e_test.cpp).
#ifndef TESTS_WINDOWS_BUILDS_H
#define TESTS_WINDOWS_BUILDS_H

#include "tests/e2e_runner.h"

const Build& LinuxBuild();
// The .exe files under Wine, in the prefix the test run made for them.
const Build& WindowsBuild();

#endif  // TESTS_WINDOWS_BUILDS_H
