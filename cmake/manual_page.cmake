# A manual page from resources/man/, installed compressed as Debian's manual pages are, in
# the package (install component) of the program it describes.
function(orbelan_manual_page page component)
  set(source ${PROJECT_SOURCE_DIR}/resources/man/${page})
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/man/${page})
  add_custom_command(OUTPUT ${copy}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
                     COMMAND gzip -9nf ${copy}
                     DEPENDS ${source}
                     COMMENT "Compressing the manual page ${page}"
                     VERBATIM)
  add_custom_target(manual_${page} ALL DEPENDS ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
