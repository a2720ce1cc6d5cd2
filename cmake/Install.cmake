# The C++ package: `find_package(korvovyr CONFIG)` gives the imported target korvovyr::korvovyr,
# a shared library with the public headers. It is the static library linked whole, so that a
# user links one file: zenoh, spdlog, yaml-cpp and the rest stay inside it (spdlog, fmt,
# tinyxml2, yaml-cpp and zlib are loaded from the system's shared libraries).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

add_library(korvovyr_shared SHARED ${CMAKE_CURRENT_LIST_DIR}/korvovyr_shared.cpp)
target_link_libraries(korvovyr_shared
  PRIVATE $<LINK_LIBRARY:WHOLE_ARCHIVE,korvovyr>
  PUBLIC Threads::Threads Eigen3::Eigen)
target_include_directories(korvovyr_shared
  INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(korvovyr_shared PROPERTIES
  OUTPUT_NAME korvovyr EXPORT_NAME korvovyr
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})

install(TARGETS korvovyr_shared EXPORT korvovyrTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/korvo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
set(KORVO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/korvovyr)
install(EXPORT korvovyrTargets NAMESPACE korvovyr:: DESTINATION ${KORVO_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/korvovyrConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/korvovyrConfig.cmake INSTALL_DESTINATION ${KORVO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/korvovyrConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/korvovyrConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/korvovyrConfigVersion.cmake
        DESTINATION ${KORVO_CMAKE_DIR})
