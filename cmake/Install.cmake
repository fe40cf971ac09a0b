# `cmake --install` (and `make install PREFIX=... DESTDIR=...`), in the
# layout Debian uses, by component:
#   runtime      LIBDIR/libpdfparse.so.1 (the public library: the exported
#                face only, no run path) and the private folder
#                LIBDIR/pdfparse/ with the library's private part
#                (libpdfparse_core.so), the document engine
#                (libpdfparse_document.so.1) and the converter plug-in
#                (libKestaro.so); the private part and the plug-in find the
#                engine there through $ORIGIN.
#   tools        bin/pdfinquiry, its manual page and its bash completion.
#   development  the public headers, the namelink LIBDIR/libpdfparse.so, the
#                pkg-config file and the CMake package (imported target
#                pdfparse::pdfparse, nothing else).
# LIBDIR is the platform's library folder (lib/x86_64-linux-gnu under /usr on
# Debian). The pkg-config file names the prefix installed to; the CMake
# package finds the prefix from where it lies.
include(CMakePackageConfigHelpers)

set(PDFPARSE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/pdfparse)
set(PDFPARSE_PRIVATE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/${PDFPARSE_PRIVATE_SUBDIR})

install(TARGETS pdfparse EXPORT pdfparseTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(TARGETS pdfparse_core Kestaro LIBRARY DESTINATION ${PDFPARSE_PRIVATE_INSTALL_DIR} COMPONENT runtime)
install(TARGETS pdfparse_document LIBRARY DESTINATION ${PDFPARSE_PRIVATE_INSTALL_DIR} COMPONENT runtime NAMELINK_SKIP)

install(TARGETS pdfinquiry RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(FILES ${CMAKE_BINARY_DIR}/tools/pdfinquiry/pdfinquiry.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/tools/pdfinquiry/pdfinquiry.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pdfinquiry COMPONENT tools)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/pdfparse
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development FILES_MATCHING PATTERN "*.h")

install(EXPORT pdfparseTargets NAMESPACE pdfparse:: DESTINATION ${PDFPARSE_CMAKE_DIR} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/pdfparseConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/pdfparseConfig.cmake INSTALL_DESTINATION ${PDFPARSE_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/pdfparseConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pdfparseConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/pdfparseConfigVersion.cmake
  DESTINATION ${PDFPARSE_CMAKE_DIR} COMPONENT development)

# pkg-config: written when it is installed, for the prefix installed to
# (`cmake --install --prefix` included), as a normalised absolute path, so
# that pkgconf recognises /usr/include and /usr/lib/<triplet> as system
# folders and leaves them out. A staged tree (DESTDIR) is used with
# `pkg-config --define-variable=prefix=STAGE/PREFIX`.
set(PDFPARSE_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(PDFPARSE_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(PDFPARSE_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
# Everything but the prefix now; the prefix when installed.
set(PDFPARSE_PC_PREFIX "@PDFPARSE_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/pdfparse.pc.in ${CMAKE_CURRENT_BINARY_DIR}/pdfparse.pc.in @ONLY)
install(CODE "
  cmake_path(SET PDFPARSE_PC_PREFIX NORMALIZE \"\${CMAKE_INSTALL_PREFIX}\")
  if(PDFPARSE_PC_PREFIX MATCHES \"^(.+)/$\")
    set(PDFPARSE_PC_PREFIX \"\${CMAKE_MATCH_1}\")
  endif()
  configure_file(\"${CMAKE_CURRENT_BINARY_DIR}/pdfparse.pc.in\" \"${CMAKE_CURRENT_BINARY_DIR}/pdfparse.pc\" @ONLY)
" COMPONENT development)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pdfparse.pc DESTINATION ${PDFPARSE_PC_DIR} COMPONENT development)

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
