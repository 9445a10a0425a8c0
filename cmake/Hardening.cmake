# The hardening Debian builds its packages with (dpkg-buildflags, with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all), included by the top CMakeLists.txt
# before any target:
#   -fstack-protector-strong           a guard word checked on return
#   -D_FORTIFY_SOURCE=2                glibc checks the sizes of buffers it
#                                      can see (needs optimisation, so not in
#                                      a Debug build)
#   -Wformat -Werror=format-security   no format string that is not a literal
#   -Wl,-z,relro -Wl,-z,now            relocations made read-only after
#                                      loading, every symbol bound at start
#   PIE                                position-independent programs (GCC on
#                                      Debian makes them by default)
# The flags are written here rather than read from dpkg-buildflags when
# building, so that every Linux build has the same ones whatever the machine
# and its environment (DEB_BUILD_MAINT_OPTIONS, DEB_CXXFLAGS_APPEND...), and
# the tests run against programs hardened as the package's are.
#
# On by default on Linux (in a Debug build, as under the sanitizers, without
# _FORTIFY_SOURCE); off for the fuzz build, whose sanitizers and libFuzzer
# want the code as it is, and for the Windows programs, whose PE headers
# tests/pe_headers_test.cpp reads. -DHARDENING=OFF builds without them (to
# time what they cost: bench/run.sh with BASELINE).
if(WIN32 OR FUZZING)
  set(hardening_default OFF)
else()
  set(hardening_default ON)
endif()
option(HARDENING "Build with the hardening flags Debian builds with (stack protector, _FORTIFY_SOURCE=2, format checks, relro and bind now, PIE)" ${hardening_default})
if(NOT HARDENING)
  message(STATUS "Hardening: off")
  return()
endif()

# -fPIE for every object, the static libraries' too (CMake's
# POSITION_INDEPENDENT_CODE would compile those with -fPIC, whose functions
# may be interposed, so that calls to them are not inlined).
add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security -fPIE)
add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
add_link_options(-pie LINKER:-z,relro LINKER:-z,now)
message(STATUS "Hardening: stack protector, _FORTIFY_SOURCE=2 (optimised builds), format checks, relro, bind now, PIE")
