# What is installed beside the programs, and the Debian package, included by
# the top CMakeLists.txt. On Windows the folder gets the README; on Linux the
# manual pages and the package's changelog, compressed, and its copyright
# file. The texts themselves are in packaging/ and man/.

# Who makes the package: its Maintainer field and the changelog's signature.
# As Debian's own tools (dch, debchange) do, the default is taken from
# DEBFULLNAME and DEBEMAIL ("Full Name <email>"; DEBEMAIL alone may read
# "Full Name <email>"), when the build folder is first configured. Without
# them the package says that nobody was named, at an address of the reserved
# domain .invalid, which no mail reaches.
set(maintainer_name "$ENV{DEBFULLNAME}")
set(maintainer_email "$ENV{DEBEMAIL}")
if(maintainer_email MATCHES "^(.*[^ ]) *<([^>]+)>$")
  if(maintainer_name STREQUAL "")
    set(maintainer_name "${CMAKE_MATCH_1}")
  endif()
  set(maintainer_email "${CMAKE_MATCH_2}")
endif()
if(NOT maintainer_name STREQUAL "" AND NOT maintainer_email STREQUAL "")
  set(maintainer "${maintainer_name} <${maintainer_email}>")
else()
  set(maintainer "Unnamed packager <nobody@unpack-tools.invalid>")
endif()
set(PACKAGE_MAINTAINER "${maintainer}" CACHE STRING
    "The Debian package's maintainer, \"Full Name <email>\" (default: DEBFULLNAME and DEBEMAIL)")

if(WIN32)
  install(FILES docs/README-windows.txt DESTINATION . RENAME README.txt)
else()
  # The manual pages and the package's changelog are installed compressed, as
  # Debian's policy asks; gzip -n leaves out the name and the time, so every
  # build gives the same bytes.
  # The changelog is signed by PACKAGE_MAINTAINER.
  configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
  set(compressed "")
  foreach(source ${PROJECT_SOURCE_DIR}/man/unpack.1 ${PROJECT_SOURCE_DIR}/man/Vellomar.1
                 ${PROJECT_SOURCE_DIR}/man/pack.1 ${CMAKE_BINARY_DIR}/packaging/changelog)
    get_filename_component(name ${source} NAME)
    set(copy ${CMAKE_BINARY_DIR}/compressed/${name})
    add_custom_command(OUTPUT ${copy}.gz
                       COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
                       COMMAND gzip -9nf ${copy}
                       DEPENDS ${source} VERBATIM)
    list(APPEND compressed ${copy}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})
  list(FILTER compressed INCLUDE REGEX "[.]1[.]gz$")
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/compressed/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/unpack-tools)
endif()

# cpack -G DEB (from a build folder) makes a Debian package of the three
# programs, their manual pages, the copyright file and the changelog. The
# programs in the package are stripped (those in the build folder keep their
# symbols); dpkg-shlibdeps (package dpkg-dev) works out the dependencies.
set(CPACK_PACKAGE_NAME unpack-tools)
set(CPACK_PACKAGE_VENDOR "unpack tools")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "install and make packages of files, check free space")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/packaging/description)
set(CPACK_PACKAGE_CONTACT "${PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
message(STATUS "Package maintainer: ${PACKAGE_MAINTAINER} (PACKAGE_MAINTAINER)")
