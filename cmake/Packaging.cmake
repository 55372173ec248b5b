# Installing and the release archive.
#
# `cmake --install BUILD --prefix DIR` puts the launcher and launcher-check in DIR/bin, their
# manual pages in DIR/share/man/man1 and the README, the example init.ini with its commentary and
# the example applications' sources in DIR/share/doc/launcher.
#
# The target package_release packs build/<preset>/launcher-VERSION-linux-PROCESSOR.tar.gz (the
# processor of the build, CMAKE_SYSTEM_PROCESSOR: x86_64, or aarch64 for a cross build) with the
# stripped launcher and launcher-check, and leaves the archive's SHA-256 beside it
# (packaging/pack-release.sh).
include(GNUInstallDirs)

install(TARGETS launcher launcher-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES doc/launcher.1 doc/launcher-check.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md packaging/init.ini.example packaging/init.ini.example.txt
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The examples keep their modes: examples/bundle/make-bundle.sh stays executable.
install(DIRECTORY examples DESTINATION ${CMAKE_INSTALL_DOCDIR} USE_SOURCE_PERMISSIONS)

set(LAUNCHER_ARCHIVE_NAME launcher-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
if(NOT CMAKE_STRIP)
  message(FATAL_ERROR "No strip program was found for the release archive")
endif()
add_custom_target(package_release
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/packaging/pack-release.sh
          --source ${CMAKE_CURRENT_SOURCE_DIR} --launcher $<TARGET_FILE:launcher>
          --check $<TARGET_FILE:launcher-check>
          --strip ${CMAKE_STRIP} --name ${LAUNCHER_ARCHIVE_NAME}
          --top launcher-${PROJECT_VERSION} --output ${CMAKE_BINARY_DIR}
  DEPENDS launcher launcher-check
  COMMENT "Packing ${LAUNCHER_ARCHIVE_NAME}.tar.gz"
  VERBATIM)
