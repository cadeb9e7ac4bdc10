# What a system-wide install holds beside the window (ui/ installs it with its desktop entry, icon and file
# type): the headless front end and the simulator, the demo under DATADIR/orvane, the manual pages, the
# AppStream metadata, the headless service, the documentation; and the Debian package made of it all
# (scripts/package.sh: cmake with ORVANE_MANPAGES=ON, then cpack).
include(GNUInstallDirs)

option(ORVANE_MANPAGES "Write the manual pages from the programs' --help (needs help2man)" OFF)
# Relative: under the prefix. The package puts it where Debian 12 keeps units, /lib/systemd/system.
set(ORVANE_SYSTEMD_UNITDIR "lib/systemd/system" CACHE STRING "Where the headless service's unit is installed")

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_gen ${PROJECT_BINARY_DIR}/packaging)
string(TIMESTAMP ORVANE_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP ORVANE_RELEASE_DAY "%Y-%m-%d" UTC)
# The demo finds its data from its own folder: the data folder relative to the prefix.
file(RELATIVE_PATH ORVANE_DATA_FROM_PREFIX ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_DATADIR}/orvane)

configure_file(${_pkg}/orvane-demo.in ${_gen}/orvane-demo @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(${_pkg}/orvane-headless@.service.in ${_gen}/orvane-headless@.service @ONLY)
configure_file(${_pkg}/org.example.orvane.metainfo.xml.in ${_gen}/org.example.orvane.metainfo.xml @ONLY)
configure_file(${_pkg}/changelog.in ${_gen}/changelog @ONLY)

install(TARGETS orvane-headless orvane-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES demo/demo.json demo/demo.orv demo/demo-status-page.orv demo/web_template.html
              demo/MatchStarted.wav demo/MatchStopped.wav demo/badrcon.wav
        DESTINATION ${CMAKE_INSTALL_DATADIR}/orvane)
install(FILES ${_gen}/org.example.orvane.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_gen}/orvane-headless@.service DESTINATION ${ORVANE_SYSTEMD_UNITDIR})
# Debian looks for the copyright under the package name, whatever the project is called.
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/orvane)
install(FILES README.md ${_pkg}/copyright DESTINATION ${_docdir})
if(TARGET orvane)
  install(PROGRAMS ${_gen}/orvane-demo DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Debian keeps manual pages and the changelog compressed, without a time stamp in the gzip header.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
add_custom_command(OUTPUT ${_gen}/changelog.gz
                   COMMAND ${GZIP_EXECUTABLE} -9nc ${_gen}/changelog > ${_gen}/changelog.gz
                   DEPENDS ${_gen}/changelog)
set(_docs ${_gen}/changelog.gz)

if(ORVANE_MANPAGES)
  find_program(HELP2MAN_EXECUTABLE help2man REQUIRED)
  set(_pages orvane-headless "monitor game servers and TV proxies without a window, as JSON lines"
             orvane-sim "play game servers and TV proxies on 127.0.0.1 for Orvane to monitor")
  if(TARGET orvane)
    list(APPEND _pages orvane "watch and drive the game servers and TV proxies of an e-sports broadcast"
                       orvane-demo "start Orvane on a simulated demo broadcast")
  endif()
  while(_pages)
    list(POP_FRONT _pages name summary)
    if(TARGET ${name})
      set(exe $<TARGET_FILE:${name}>)
      set(dep ${name})
    else()
      set(exe ${_gen}/${name})
      set(dep ${_gen}/${name})
    endif()
    add_custom_command(OUTPUT ${_gen}/${name}.1.gz
                       COMMAND ${HELP2MAN_EXECUTABLE} --no-info --no-discard-stderr
                               --version-string=${PROJECT_VERSION} --name=${summary}
                               --output=${_gen}/${name}.1 ${exe}
                       COMMAND ${GZIP_EXECUTABLE} -9nf ${_gen}/${name}.1
                       DEPENDS ${dep} VERBATIM)
    list(APPEND _docs ${_gen}/${name}.1.gz)
    install(FILES ${_gen}/${name}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endwhile()
endif()
add_custom_target(orvane_package_docs ALL DEPENDS ${_docs})
install(FILES ${_gen}/changelog.gz DESTINATION ${_docdir})

# The Debian package: its dependencies are worked out from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Orvane developers <orvane@example.org>")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "manager for the servers and TV proxies of e-sports broadcasts\nPolls Half-Life, Quake 3, HLTV and GTV servers and drives them by rcon.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orvane.example.org/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# DESTDIR staging: the unit's absolute folder lands in the package, and the install step's cache updates
# (update-mime-database) are left to the installing system's triggers.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})
include(CPack)
