# A complete installation directory: the library, its header, the wizard
# nerova_simple_tool with its skin/style.skin, the example
# host, conf/default.ini, the cascades, the translation, log/, debug/ and the font.
#   cmake --install build --prefix /opt/nerova
# The licensed haarcascade_mcs_* cascades are not free to ship; name the
# directory that holds them with NEROVA_MCS_DIR to have them copied.
set(NEROVA_MCS_DIR "" CACHE PATH "Directory holding the licensed haarcascade_mcs_*.xml files")
set(NEROVA_OPENCV_DATA "/usr/share/opencv4" CACHE PATH "Debian's OpenCV data directory")

install(TARGETS nerova LIBRARY DESTINATION .)
install(TARGETS nerova_simple_tool RUNTIME DESTINATION .)
install(FILES ${NEROVA_SKIN} DESTINATION skin)
install(FILES sdk/core/nerova.h DESTINATION include)
install(FILES conf/default.ini DESTINATION conf)
install(FILES ${NEROVA_LNG} DESTINATION lang)
install(DIRECTORY DESTINATION log)
install(DIRECTORY DESTINATION debug)
# data/ is the store group's: the cascades in it are read-only for the group
# (the library reads none that the group or others may change).
set(NEROVA_CASCADE_PERMISSIONS
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(DIRECTORY ${NEROVA_OPENCV_DATA}/haarcascades/ DESTINATION data/haarcascades
  ${NEROVA_CASCADE_PERMISSIONS}
  FILES_MATCHING
  PATTERN "haarcascade_frontalface_*.xml"
  PATTERN "haarcascade_frontalcatface*.xml"
  PATTERN "haarcascade_eye*.xml"
  PATTERN "haarcascade_*eye_2splits.xml")
install(DIRECTORY ${NEROVA_OPENCV_DATA}/lbpcascades/ DESTINATION data/lbpcascades
  ${NEROVA_CASCADE_PERMISSIONS}
  FILES_MATCHING PATTERN "lbpcascade_frontalface*.xml")
if(NEROVA_MCS_DIR)
  install(DIRECTORY ${NEROVA_MCS_DIR}/ DESTINATION data/haarcascades
    ${NEROVA_CASCADE_PERMISSIONS}
    FILES_MATCHING PATTERN "haarcascade_mcs_*.xml")
endif()
if(EXISTS /usr/share/fonts/truetype/wqy/wqy-microhei.ttc)
  install(FILES /usr/share/fonts/truetype/wqy/wqy-microhei.ttc DESTINATION font)
endif()
if(TARGET nerova_c_host)
  install(TARGETS nerova_c_host RUNTIME DESTINATION .)
endif()

# For integrators: a CMake package (find_package(nerova) gives nerova::nerova)
# and a pkg-config file, both found relative to where they are installed.
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/nerovaConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES cmake/nerovaConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/nerovaConfigVersion.cmake
  DESTINATION lib/cmake/nerova)
configure_file(cmake/nerova.pc.in ${CMAKE_CURRENT_BINARY_DIR}/nerova.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nerova.pc DESTINATION lib/pkgconfig)

include(cmake/DebianPackage.cmake)
