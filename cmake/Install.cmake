# `cmake --install` (and `make install PREFIX=... DESTDIR=...`): the library,
# the converter plug-in beside it (the library finds it next to itself), the
# public headers, pdfinquiry, a pkg-config file and a CMake package with the
# imported target pdfparse::pdfparse. All of it is relocatable: the
# pkg-config file and the package config find the prefix from where they lie.
include(CMakePackageConfigHelpers)

set(PDFPARSE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/pdfparse)

install(TARGETS pdfparse EXPORT pdfparseTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(TARGETS Kestaro LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime)
# The document core the library and the plug-in share, beside them.
install(TARGETS pdfparse_document EXPORT pdfparseTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_SKIP)
install(TARGETS pdfinquiry RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
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

# pkg-config: the prefix is found from the .pc file's own folder, so the
# tree works from wherever it was copied to (DESTDIR staging included).
set(PDFPARSE_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH PDFPARSE_PC_TO_PREFIX /${PDFPARSE_PC_DIR} /)
string(REGEX REPLACE "/$" "" PDFPARSE_PC_TO_PREFIX "${PDFPARSE_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/pdfparse.pc.in ${CMAKE_CURRENT_BINARY_DIR}/pdfparse.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pdfparse.pc DESTINATION ${PDFPARSE_PC_DIR} COMPONENT development)
