# What is installed beside the programs, and the Debian package, included by
# the top CMakeLists.txt. On Windows the folder gets the README; on Linux the
# manual pages and the package's changelog, compressed, and its copyright
# file. The texts themselves are in packaging/ and man/.

if(WIN32)
  install(FILES docs/README-windows.txt DESTINATION . RENAME README.txt)
else()
  # The manual pages and the package's changelog are installed compressed, as
  # Debian's policy asks; gzip -n leaves out the name and the time, so every
  # build gives the same bytes.
  set(compressed "")
  foreach(source man/unpack.1 man/Vellomar.1 man/pack.1 packaging/changelog)
    get_filename_component(name ${source} NAME)
    set(copy ${CMAKE_BINARY_DIR}/compressed/${name})
    add_custom_command(OUTPUT ${copy}.gz
                       COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${source} ${copy}
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
set(CPACK_PACKAGE_CONTACT "unpack tools maintainers <maintainers@unpack-tools.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
