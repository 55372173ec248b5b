# launcher-pack, installing, the release archive and the Debian package.
#
# launcher-pack (packaging/launcher-pack, a bash program) is copied into the build directory with
# the project's version written in, beside the launcher and launcher-check it copies into the
# applications it packs.
#
# `cmake --install BUILD --prefix DIR` puts the launcher, launcher-check and launcher-pack in
# DIR/bin, their manual pages in DIR/share/man/man1 and the README, the example init.ini with its
# commentary and the example applications' sources in DIR/share/doc/launcher.
#
# The target package_release packs build/<preset>/launcher-VERSION-linux-PROCESSOR.tar.gz (the
# processor of the build, CMAKE_SYSTEM_PROCESSOR: x86_64, or aarch64 for a cross build) with the
# stripped launcher and launcher-check and launcher-pack, and the Debian package
# build/<preset>/launcher_VERSION_ARCH.deb (amd64 or arm64) of the same files, each with its
# SHA-256 beside it (packaging/pack-release.sh, packaging/pack-deb.sh).
include(GNUInstallDirs)

set(LAUNCHER_PACK ${CMAKE_BINARY_DIR}/launcher-pack)
configure_file(packaging/launcher-pack ${LAUNCHER_PACK} @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)

install(TARGETS ${launcher_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${LAUNCHER_PACK} DESTINATION ${CMAKE_INSTALL_BINDIR})
set(launcher_manual_pages doc/launcher-pack.1)
foreach(program IN LISTS launcher_programs)
  list(APPEND launcher_manual_pages doc/${program}.1)
endforeach()
install(FILES ${launcher_manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md packaging/init.ini.example packaging/init.ini.example.txt
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The release ships launcher-check as well: without it (no zlib) there is no release target.
if(NOT TARGET launcher-check)
  return()
endif()
set(LAUNCHER_ARCHIVE_NAME launcher-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
if(NOT CMAKE_STRIP)
  message(FATAL_ERROR "No strip program was found for the release archive")
endif()
add_custom_target(package_release
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/packaging/pack-release.sh
          --source ${CMAKE_CURRENT_SOURCE_DIR} --launcher $<TARGET_FILE:launcher>
          --check $<TARGET_FILE:launcher-check> --pack ${LAUNCHER_PACK}
          --strip ${CMAKE_STRIP} --name ${LAUNCHER_ARCHIVE_NAME}
          --top launcher-${PROJECT_VERSION} --version ${PROJECT_VERSION}
          --processor ${CMAKE_SYSTEM_PROCESSOR} --output ${CMAKE_BINARY_DIR}
  DEPENDS launcher launcher-check ${LAUNCHER_PACK}
  COMMENT "Packing ${LAUNCHER_ARCHIVE_NAME}.tar.gz and the Debian package"
  VERBATIM)
