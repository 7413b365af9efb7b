# Install rules and packages. On Linux: calyx-cli, its manual page and its
# documents, packed by CPack as a Debian package. On Windows: both programs,
# README.txt and LICENSE.txt in one folder, packed as a zip. Every package and
# file name carries the project version.
include(GNUInstallDirs)

set(CALYX_MAINTAINER "Calyx developers <maintainers@users.noreply.c-seed-3914b038.example>"
  CACHE STRING "Maintainer named in the Debian package")
option(CALYX_DEBIAN_DOCS
  "Install the licence as Debian's copyright file, and a Debian changelog" OFF)

# Dates written into the manual page and the changelog. string(TIMESTAMP)
# takes SOURCE_DATE_EPOCH when it is set, so a release can be made again
# with the same dates.
string(TIMESTAMP CALYX_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP CALYX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(calyx_made ${CMAKE_BINARY_DIR}/packaging)

if(WIN32)
  # One folder: the programs beside their README, as a zip is unpacked.
  install(TARGETS Calyx calyx-cli RUNTIME DESTINATION .)
  # Windows line endings, so that Notepad on any version shows the lines.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt.in ${calyx_made}/README.txt
    @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${calyx_made}/LICENSE.txt
    @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${calyx_made}/README.txt ${calyx_made}/LICENSE.txt DESTINATION .)
else()
  set(calyx_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/calyx-cli)
  install(TARGETS calyx-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # The Debian package names its licence file copyright, as Debian requires.
  if(CALYX_DEBIAN_DOCS)
    set(calyx_license_name copyright)
  else()
    set(calyx_license_name LICENSE)
  endif()
  set(CALYX_LICENSE_PATH ${CMAKE_INSTALL_FULL_DATAROOTDIR}/doc/calyx-cli/${calyx_license_name})

  # The manual page: the version, date and licence path filled in, compressed
  # as man-db and Debian expect.
  configure_file(${PROJECT_SOURCE_DIR}/doc/calyx-cli.1.in ${calyx_made}/calyx-cli.1 @ONLY)
  add_custom_command(OUTPUT ${calyx_made}/calyx-cli.1.gz
    COMMAND gzip -9nkf ${calyx_made}/calyx-cli.1
    DEPENDS ${calyx_made}/calyx-cli.1 VERBATIM)
  add_custom_target(calyx_man ALL DEPENDS ${calyx_made}/calyx-cli.1.gz)
  install(FILES ${calyx_made}/calyx-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${calyx_docdir})
  if(NOT CALYX_DEBIAN_DOCS)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${calyx_docdir})
  endif()

  if(CALYX_DEBIAN_DOCS)
    # Debian's copyright file holds the licence text after a "License:" line,
    # indented by one space, with " ." for an empty line; the text is taken
    # from LICENSE so that there is only one copy of it.
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE calyx_license)
    string(FIND "${calyx_license}" "Permission is hereby granted" calyx_first)
    string(SUBSTRING "${calyx_license}" ${calyx_first} -1 calyx_license)
    string(STRIP "${calyx_license}" calyx_license)
    string(REPLACE "\n\n" "\n.\n" calyx_license "${calyx_license}")
    string(REPLACE "\n" "\n " CALYX_LICENSE_BODY " ${calyx_license}")
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in ${calyx_made}/copyright @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${calyx_made}/changelog @ONLY)
    add_custom_command(OUTPUT ${calyx_made}/changelog.gz
      COMMAND gzip -9nkf ${calyx_made}/changelog
      DEPENDS ${calyx_made}/changelog VERBATIM)
    add_custom_target(calyx_changelog ALL DEPENDS ${calyx_made}/changelog.gz)
    install(FILES ${calyx_made}/copyright ${calyx_made}/changelog.gz DESTINATION ${calyx_docdir})
  endif()
endif()

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the Calyx developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stereo sine test tones as PCM WAVE files")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME calyx)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(calyx_arch win64)
  else()
    set(calyx_arch win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME calyx-${PROJECT_VERSION}-${calyx_arch})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME calyx-cli)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CALYX_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The dependencies are those of the binary, found by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The synopsis line is the summary above; this is the long description.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "calyx-cli writes audio test files: one stereo sine tone in a PCM RIFF/WAVE
file of 16, 24 or 32 bits at any sample rate, made of whole cycles, faded in
and out over whole cycles with a Blackman window, with the sum of its samples
cancelled to exactly zero for tones up to 10 seconds, and 16-bit output
dithered. Engineers use such files to measure converters, amplifiers and
sound cards.
.
It is the command-line form of the Calyx dialog program for Windows and
writes the same bytes for the same request.")
endif()
include(CPack)
