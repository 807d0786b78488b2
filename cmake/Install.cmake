# What `cmake --install` puts below the prefix, and the Debian package made
# from it (CPack). The programs install themselves (their CMakeLists.txt) and
# so do the catalogues (Translations.cmake); this adds the data staged by
# share/CMakeLists.txt and the package's documents.

get_property(_staged_data GLOBAL PROPERTY ARDANTO_STAGED_DATA)
foreach(_entry IN LISTS _staged_data)
  string(REPLACE "|" ";" _pair "${_entry}")
  list(GET _pair 0 _file)
  list(GET _pair 1 _destination)
  install(FILES "${_file}" DESTINATION "${_destination}")
endforeach()

# `installables` builds everything the installation takes, and no tests:
# every program below src/ (screenshot tools and other targets left out of
# the default build aside). A program started from the build tree finds its
# help and icon there.
function(ardanto_collect_programs directory result)
  set(_programs)
  get_property(_targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(_target IN LISTS _targets)
    get_target_property(_type ${_target} TYPE)
    get_target_property(_excluded ${_target} EXCLUDE_FROM_ALL)
    if(_type STREQUAL "EXECUTABLE" AND NOT _excluded)
      list(APPEND _programs ${_target})
    endif()
  endforeach()
  get_property(_subdirectories DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
  foreach(_subdirectory IN LISTS _subdirectories)
    ardanto_collect_programs("${_subdirectory}" _below)
    list(APPEND _programs ${_below})
  endforeach()
  set(${result} ${_programs} PARENT_SCOPE)
endfunction()

ardanto_collect_programs("${CMAKE_SOURCE_DIR}/src" ARDANTO_PROGRAMS)
add_custom_target(installables)
add_dependencies(installables catalogues help-pages desktop-data)
foreach(_program IN LISTS ARDANTO_PROGRAMS)
  add_dependencies(${_program} help-pages desktop-data)
  add_dependencies(installables ${_program})
endforeach()

# Debian wants the copyright file and a compressed changelog in the
# package's documentation folder.
set(ARDANTO_PACKAGE_NAME ardanto)
set(_docdir "${CMAKE_INSTALL_DATADIR}/doc/${ARDANTO_PACKAGE_NAME}")
set(_changelog "${CMAKE_BINARY_DIR}/packaging/changelog")
add_custom_command(OUTPUT "${_changelog}.gz"
  COMMAND ${CMAKE_COMMAND} -E copy "${CMAKE_SOURCE_DIR}/packaging/changelog" "${_changelog}"
  COMMAND ${GZIP_EXECUTABLE} -9nf "${_changelog}"
  DEPENDS "${CMAKE_SOURCE_DIR}/packaging/changelog"
  VERBATIM)
add_custom_target(package-documents ALL DEPENDS "${_changelog}.gz")
add_dependencies(installables package-documents)
install(FILES "${CMAKE_SOURCE_DIR}/packaging/copyright" "${_changelog}.gz" DESTINATION "${_docdir}")

# The Debian package: `bash scripts/package`. Its Depends come from
# dpkg-shlibdeps on the programs; only what the programs load at run time
# without linking it is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ARDANTO_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Ardanto developers")
set(CPACK_PACKAGE_CONTACT "The Ardanto developers <ardanto@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/package")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ARDANTO_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The SVG icon engine draws the icons sharp at any size; the PNGs do without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "thunderbird, gvfs-backends")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "backup suite for portable devices and Thunderbird profiles")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Portkeep copies the folders of phones, cameras and media players (MTP,
camera cards, gvfs mounts) into a local folder, with a filename filter, a
time slot, an overwrite rule and per-file gzip or zip compression.

Quillbox backs up, restores and moves Thunderbird profiles through the
ardanto engine, with report mails, scheduled tasks and desktop shortcuts.

Tasks of both programs can run unattended from the command line.")
include(CPack)
