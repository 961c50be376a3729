# A Debian package of the installation directory, under /opt/nerova:
#   cd build && cpack -G DEB
# Its maintainer scripts (cmake/debian/) create the system group nerova and
# give log/, data/ and debug/ to it (root:nerova, 2775), so that a host
# running as an ordinary user in the group can write there.
set(NEROVA_DEB_MAINTAINER "nerova maintainers <maintainers@nerova.invalid>" CACHE STRING
  "Maintainer of the Debian package, \"Name <address>\"")

set(NEROVA_DEB_DIR ${CMAKE_CURRENT_BINARY_DIR}/debian)
string(TIMESTAMP NEROVA_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${NEROVA_DEB_DIR}/changelog @ONLY)
execute_process(COMMAND gzip -9nc ${NEROVA_DEB_DIR}/changelog OUTPUT_FILE ${NEROVA_DEB_DIR}/changelog.gz)

# The copyright file names the copied cascades and font and carries their
# Debian copyright files.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${NEROVA_DEB_DIR}/copyright @ONLY)
foreach(package opencv-data fonts-wqy-microhei)
  if(EXISTS /usr/share/doc/${package}/copyright)
    file(READ /usr/share/doc/${package}/copyright text)
    file(APPEND ${NEROVA_DEB_DIR}/copyright
      "----------------------------------------------------------------------\n"
      "${package}: /usr/share/doc/${package}/copyright\n\n${text}\n")
  endif()
endforeach()

# Files outside /opt/nerova go only into the package, never into a
# cmake --install of the directory.
install(FILES ${NEROVA_DEB_DIR}/copyright ${NEROVA_DEB_DIR}/changelog.gz
  DESTINATION /usr/share/doc/nerova COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
  DESTINATION /usr/share/lintian/overrides RENAME nerova COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME nerova)
set(CPACK_PACKAGE_VENDOR "nerova")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Store visitor SDK (libnerova.so) with its configuration and data")
set(CPACK_PACKAGE_DESCRIPTION "libnerova.so watches the visitors of a store through a camera and a cloud
face service, collects the lines of a probe device on a serial port, and
reports both to the store's server. A host program loads it and calls its
eight C functions. The package installs the library, its header and build
files, the set-up wizard nerova_simple_tool, an example host and tools in
/opt/nerova. Users that host programs run as belong in the group nerova.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/nerova)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
# One package from the installation and the package's own files.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)
set(CPACK_DEBIAN_FILE_NAME nerova_${PROJECT_VERSION}_amd64.deb)
set(CPACK_DEBIAN_PACKAGE_NAME nerova)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NEROVA_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# addgroup comes with adduser, setfacl with acl, the system's CAs (which
# the cloud's certificate is verified against) with ca-certificates; the
# libraries are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, acl, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/preinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/postrm
  ${CMAKE_CURRENT_LIST_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
