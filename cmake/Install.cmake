# What `cmake --install` puts where (GNUInstallDirs, under CMAKE_INSTALL_PREFIX):
#
#   bin/                                          quorvane, quorvane-gui, bintodld, formatswitch
#   share/man/man1/                               their manual pages (help2man, see below)
#   share/bash-completion/completions/            completion/<program>.bash as <program>
#   share/applications/<id>.desktop               the window's desktop entry
#   share/icons/hicolor/scalable/apps/<id>.svg    its icon
#   share/metainfo/<id>.metainfo.xml              its AppStream metadata
#
# <id> is QUORVANE_APP_ID. Tests, benchmarks and fuzz targets are never installed.
include(GNUInstallDirs)

set(QUORVANE_APP_ID io.github.quorvane.Quorvane)
set(QUORVANE_PROGRAMS quorvane quorvane-gui bintodld formatswitch)

install(TARGETS ${QUORVANE_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

foreach(program IN LISTS QUORVANE_PROGRAMS)
  install(FILES completion/${program}.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()

install(FILES desktop/${QUORVANE_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES desktop/${QUORVANE_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES desktop/${QUORVANE_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The metainfo's newest release must be this version.
file(READ ${PROJECT_SOURCE_DIR}/desktop/${QUORVANE_APP_ID}.metainfo.xml metainfo)
if(NOT metainfo MATCHES "<release version=\"([^\"]*)\"")
  message(FATAL_ERROR "desktop/${QUORVANE_APP_ID}.metainfo.xml has no <release>")
elseif(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "desktop/${QUORVANE_APP_ID}.metainfo.xml: the newest <release> is "
          "${CMAKE_MATCH_1}, but the project is ${PROJECT_VERSION}: add "
          "<release version=\"${PROJECT_VERSION}\" date=\"YYYY-MM-DD\"/> first in <releases>")
endif()

# Manual pages, made at build time by help2man from each program's --help and --version and
# the include file man/<program>.h2m (cmake/GenerateManPage.cmake), into build/man/.
#   QUORVANE_MAN_PAGES=AUTO  when help2man is found, in builds that are not sanitized (default)
#   QUORVANE_MAN_PAGES=ON    always; configuring fails without help2man (package builds)
#   QUORVANE_MAN_PAGES=OFF   never
set(QUORVANE_MAN_PAGES AUTO CACHE STRING "Make manual pages with help2man: AUTO, ON or OFF")
set_property(CACHE QUORVANE_MAN_PAGES PROPERTY STRINGS AUTO ON OFF)
find_program(HELP2MAN_EXECUTABLE help2man)
find_program(GZIP_EXECUTABLE gzip)
mark_as_advanced(HELP2MAN_EXECUTABLE GZIP_EXECUTABLE)

set(make_man_pages OFF)
if(QUORVANE_MAN_PAGES STREQUAL "ON")
  if(NOT HELP2MAN_EXECUTABLE)
    message(FATAL_ERROR "QUORVANE_MAN_PAGES=ON needs help2man (apt-get install help2man)")
  endif()
  set(make_man_pages ON)
elseif(QUORVANE_MAN_PAGES STREQUAL "AUTO")
  if(HELP2MAN_EXECUTABLE AND NOT QUORVANE_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
    set(make_man_pages ON)
  endif()
elseif(NOT QUORVANE_MAN_PAGES STREQUAL "OFF")
  message(FATAL_ERROR "QUORVANE_MAN_PAGES is AUTO, ON or OFF, not ${QUORVANE_MAN_PAGES}")
endif()

if(make_man_pages)
  set(man_pages "")
  foreach(program IN LISTS QUORVANE_PROGRAMS)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    set(page_file ${page})
    if(GZIP_EXECUTABLE)
      set(page_file ${page}.gz)
    endif()
    # quorvane's page also has a section of its commands.
    set(commands OFF)
    if(program STREQUAL "quorvane")
      set(commands ON)
    endif()
    add_custom_command(
      OUTPUT ${page_file}
      COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DPAGE=${page}
              -DVERSION=${PROJECT_VERSION} -DHELP2MAN=${HELP2MAN_EXECUTABLE}
              -DGZIP=${GZIP_EXECUTABLE} -DINCLUDE=${PROJECT_SOURCE_DIR}/man/${program}.h2m
              -DCOMMANDS=${commands} -P ${PROJECT_SOURCE_DIR}/cmake/GenerateManPage.cmake
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/man/${program}.h2m
              ${PROJECT_SOURCE_DIR}/cmake/GenerateManPage.cmake
      COMMENT "Manual page ${program}(1) from ${program} --help"
      VERBATIM)
    list(APPEND man_pages ${page_file})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  message(STATUS "Manual pages: made with ${HELP2MAN_EXECUTABLE}")
else()
  message(STATUS "Manual pages: not made (QUORVANE_MAN_PAGES=${QUORVANE_MAN_PAGES}, "
                 "help2man: ${HELP2MAN_EXECUTABLE})")
endif()

# Checks of what is installed, with the suite when the checkers are there (scripts/setup.sh
# installs them).
if(BUILD_TESTING)
  find_program(DESKTOP_FILE_VALIDATE_EXECUTABLE desktop-file-validate)
  find_program(APPSTREAMCLI_EXECUTABLE appstreamcli)
  find_program(BASH_EXECUTABLE bash)
  mark_as_advanced(DESKTOP_FILE_VALIDATE_EXECUTABLE APPSTREAMCLI_EXECUTABLE BASH_EXECUTABLE)
  if(DESKTOP_FILE_VALIDATE_EXECUTABLE)
    add_test(NAME Install.DesktopEntry
             COMMAND ${DESKTOP_FILE_VALIDATE_EXECUTABLE}
                     ${PROJECT_SOURCE_DIR}/desktop/${QUORVANE_APP_ID}.desktop)
  endif()
  if(APPSTREAMCLI_EXECUTABLE)
    add_test(NAME Install.Metainfo
             COMMAND ${APPSTREAMCLI_EXECUTABLE} validate --no-net
                     ${PROJECT_SOURCE_DIR}/desktop/${QUORVANE_APP_ID}.metainfo.xml)
  endif()
  if(BASH_EXECUTABLE AND EXISTS /usr/share/bash-completion/bash_completion)
    add_test(NAME Install.BashCompletion
             COMMAND ${BASH_EXECUTABLE} ${PROJECT_SOURCE_DIR}/completion/check_completion.sh
                     ${PROJECT_SOURCE_DIR}/completion $<TARGET_FILE:quorvane>)
  endif()
endif()
