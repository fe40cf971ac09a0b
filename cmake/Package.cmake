# Debian packages from this build with CPack (`cpack` in the build folder, or
# `make package` at the top, which makes a Release build for /usr first):
#   libpdfparse1     component runtime: the library and its private folder
#   pdfinquiry       component tools: the command-line host, its manual page
#                    and bash completion; it loads the library with dlopen,
#                    which dpkg-shlibdeps cannot see, so its dependency on
#                    libpdfparse1 is declared here
#   libpdfparse-dev  component development: headers, namelink, pkg-config
#                    file, CMake package
# Dependencies on other packages come from dpkg-shlibdeps. Each package gets
# /usr/share/doc/<package>/copyright and changelog.Debian.gz (installed only
# by these component installs, not by a plain `cmake --install`).
set(PDFPARSE_DEB_RELEASE 1 CACHE STRING "Debian revision of the packages")
set(PDFPARSE_DEB_MAINTAINER "The pdfparse developers <pdfparse@example.org>"
  CACHE STRING "Maintainer field of the packages")
set(PDFPARSE_DEB_VERSION ${PROJECT_VERSION}-${PDFPARSE_DEB_RELEASE})

set(PDFPARSE_DEB_RUNTIME libpdfparse${PROJECT_VERSION_MAJOR})
set(PDFPARSE_DEB_TOOLS pdfinquiry)
set(PDFPARSE_DEB_DEVELOPMENT libpdfparse-dev)

# The Debian changelog, compressed as policy asks (no name, no time stamp).
set(PDFPARSE_DEB_DIR ${CMAKE_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PDFPARSE_DEB_DIR}/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${PDFPARSE_DEB_DIR}/changelog.Debian.gz
  COMMAND gzip -9 -n -k -f ${PDFPARSE_DEB_DIR}/changelog.Debian
  DEPENDS ${PDFPARSE_DEB_DIR}/changelog.Debian VERBATIM)
add_custom_target(pdfparse_deb_changelog ALL DEPENDS ${PDFPARSE_DEB_DIR}/changelog.Debian.gz)
foreach(component runtime tools development)
  string(TOUPPER ${component} upper)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PDFPARSE_DEB_DIR}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PDFPARSE_DEB_${upper}} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

# The runtime package's control files: the symbols it exports (checked
# against the library by packaging/check-install.sh), the shlibs line, and
# the ldconfig trigger for the public library.
file(MAKE_DIRECTORY ${PDFPARSE_DEB_DIR}/runtime)
configure_file(${PROJECT_SOURCE_DIR}/packaging/libpdfparse1.symbols ${PDFPARSE_DEB_DIR}/runtime/symbols COPYONLY)
file(WRITE ${PDFPARSE_DEB_DIR}/runtime/shlibs
  "libpdfparse ${PROJECT_VERSION_MAJOR} ${PDFPARSE_DEB_RUNTIME} (>= ${PROJECT_VERSION})\n")
file(WRITE ${PDFPARSE_DEB_DIR}/runtime/triggers "activate-noawait ldconfig\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pdfparse)
set(CPACK_PACKAGE_VENDOR "The pdfparse developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL runtime tools development)
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${PDFPARSE_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PDFPARSE_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE pdfparse)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack adds postinst and postrm scripts that call ldconfig to a package with
# a library in /usr/lib, which the ldconfig trigger makes redundant (and
# lintian flags); this removes exactly those scripts from the built package.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/drop-ldconfig-scripts.cmake)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${PDFPARSE_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  "${PDFPARSE_DEB_DIR}/runtime/shlibs;${PDFPARSE_DEB_DIR}/runtime/symbols;${PDFPARSE_DEB_DIR}/runtime/triggers")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "library answering questions about PDF files
libpdfparse.so.1 answers questions about PDF files for a print-production
host: page count, rotation of page 1, a document-information entry, page
mode, the overall media box, the document subtype and spot-ink use. All PDF
work runs on one worker thread owned by the library.
.
This package holds the public library and its private folder: the
library's private part, the PDF engine (over libqpdf) and the converter
plug-in that measures page boxes.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${PDFPARSE_DEB_TOOLS})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${PDFPARSE_DEB_RUNTIME} (= ${PDFPARSE_DEB_VERSION})")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "command-line host asking PDF files through libpdfparse
pdfinquiry runs one inquiry on each PDF file it is given through
libpdfparse.so.1, which it loads at run time: page count, rotation, a
document-information entry, page mode, media box, subtype and spot-ink use.
It prints an aligned table or one JSON object per line, walks directories,
and can answer paths fed on its standard input one by one.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${PDFPARSE_DEB_DEVELOPMENT})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${PDFPARSE_DEB_RUNTIME} (= ${PDFPARSE_DEB_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "development files for libpdfparse
libpdfparse.so.1 answers questions about PDF files for a print-production
host: page count, rotation of page 1, a document-information entry, page
mode, the overall media box, the document subtype and spot-ink use.
.
This package holds the public headers (CPdfParseIf, CreateCPdfParse,
PdfInquiryRec), the link to the library for the linker, a pkg-config file
and a CMake package with the imported target pdfparse::pdfparse.")

include(CPack)
