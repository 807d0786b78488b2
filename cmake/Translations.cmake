# gettext catalogues: po/<domain>/<lang>.po are compiled into
# share/locale/<lang>/LC_MESSAGES/<domain>.mo; the target `pot` refreshes
# po/<domain>/<domain>.pot from the sources with xgettext.
find_program(MSGFMT_EXECUTABLE msgfmt REQUIRED)
find_program(XGETTEXT_EXECUTABLE xgettext)
find_program(MSGMERGE_EXECUTABLE msgmerge)
find_program(MSGINIT_EXECUTABLE msginit)

if(NOT TARGET pot)
  add_custom_target(pot COMMENT "Refreshing the .pot templates")
endif()
# Every compiled catalogue; programs depend on it so that they run translated
# straight from the build tree.
if(NOT TARGET catalogues)
  add_custom_target(catalogues ALL)
endif()

# ardanto_catalogue(DOMAIN d PO_DIR dir SOURCE_DIRS dirs...)
function(ardanto_catalogue)
  cmake_parse_arguments(ARG "" "DOMAIN;PO_DIR" "SOURCE_DIRS" ${ARGN})
  file(GLOB _po_files CONFIGURE_DEPENDS "${ARG_PO_DIR}/*.po")
  set(_mo_files)
  foreach(_po IN LISTS _po_files)
    get_filename_component(_lang "${_po}" NAME_WE)
    set(_mo "${ARDANTO_BUILD_LOCALEDIR}/${_lang}/LC_MESSAGES/${ARG_DOMAIN}.mo")
    add_custom_command(OUTPUT "${_mo}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${ARDANTO_BUILD_LOCALEDIR}/${_lang}/LC_MESSAGES"
      COMMAND ${MSGFMT_EXECUTABLE} --check -o "${_mo}" "${_po}"
      DEPENDS "${_po}"
      COMMENT "Compiling catalogue ${ARG_DOMAIN} (${_lang})"
      VERBATIM)
    list(APPEND _mo_files "${_mo}")
    install(FILES "${_mo}" DESTINATION "${CMAKE_INSTALL_LOCALEDIR}/${_lang}/LC_MESSAGES")
  endforeach()
  add_custom_target(catalogue-${ARG_DOMAIN} ALL DEPENDS ${_mo_files})
  add_dependencies(catalogues catalogue-${ARG_DOMAIN})

  if(XGETTEXT_EXECUTABLE)
    set(_sources)
    foreach(_dir IN LISTS ARG_SOURCE_DIRS)
      file(GLOB_RECURSE _found RELATIVE "${CMAKE_SOURCE_DIR}" CONFIGURE_DEPENDS
           "${CMAKE_SOURCE_DIR}/${_dir}/*.cpp" "${CMAKE_SOURCE_DIR}/${_dir}/*.h")
      list(APPEND _sources ${_found})
    endforeach()
    list(SORT _sources)
    set(_pot "${ARG_PO_DIR}/${ARG_DOMAIN}.pot")
    set(_update_po)
    if(MSGMERGE_EXECUTABLE)
      foreach(_po IN LISTS _po_files)
        list(APPEND _update_po COMMAND ${MSGMERGE_EXECUTABLE} --quiet --update --backup=none "${_po}" "${_pot}")
      endforeach()
    endif()
    # A domain without a German catalogue gets one from its first template;
    # the next build compiles it.
    if(NOT EXISTS "${ARG_PO_DIR}/de.po" AND MSGINIT_EXECUTABLE)
      list(APPEND _update_po COMMAND ${MSGINIT_EXECUTABLE} --no-translator --locale=de_DE.UTF-8
           --input "${_pot}" --output-file "${ARG_PO_DIR}/de.po")
    endif()
    add_custom_target(pot-${ARG_DOMAIN}
      COMMAND ${CMAKE_COMMAND} -E make_directory "${ARG_PO_DIR}"
      COMMAND ${XGETTEXT_EXECUTABLE} --from-code=UTF-8 --language=C++ --keyword=_ --keyword=N_
              --add-comments=TRANSLATORS: --package-name=Ardanto --package-version=${PROJECT_VERSION}
              --sort-by-file -o "${_pot}" ${_sources}
      ${_update_po}
      WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}"
      COMMENT "xgettext: ${_pot}"
      VERBATIM)
    add_dependencies(pot pot-${ARG_DOMAIN})
  endif()
endfunction()
