# One pkg-config file per installed library (NAME.pc, linking -lNAME), so a
# feature process built outside this tree finds the headers and libraries of
# an installed prefix: `pkg-config --cflags --libs axpacket_client`.
file(RELATIVE_PATH PC_PKGCONFIG_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" PC_PKGCONFIG_TO_PREFIX "${PC_PKGCONFIG_TO_PREFIX}")

function(pc_install_pkgconfig name description requires libs_private)
  set(PC_PC_NAME ${name})
  set(PC_PC_DESCRIPTION ${description})
  set(PC_PC_REQUIRES ${requires})
  set(PC_PC_LIBS_PRIVATE ${libs_private})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/pkgconfig.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
