// The platform facts on one build: the Linux one in e2e_tests, the Windows
// one under Wine in windows_tests.
#include <gtest/gtest.h>

#include "tests/platform_facts.h"

#ifdef WINDOWS_PROBE_PATH
#include "tests/windows_builds.h"

TEST(PlatformFacts, WindowsBuild) { ExpectPlatformFacts(WindowsBuild(), WINDOWS_PROBE_PATH); }
#else
TEST(PlatformFacts, LinuxBuild) { ExpectPlatformFacts(NativeBuild("", ""), PROBE_PATH); }
#endif
