# Colour management: OpenColorIO linked into the library (it adds about 2 ms to a start, against the image
# module's hundreds of libraries), and Quorlen's own config, beside the command in the build tree and the
# installation. Included by hosting/CMakeLists.txt.
pkg_check_modules(OPENCOLORIO REQUIRED IMPORTED_TARGET OpenColorIO>=2.1)
set(QUORLEN_COLOUR_CONFIG_SUBDIR ${CMAKE_INSTALL_DATADIR}/quorlen)
set(QUORLEN_BUILD_COLOUR_CONFIG_DIR ${PROJECT_BINARY_DIR}/${QUORLEN_COLOUR_CONFIG_SUBDIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorlen.ocio ${QUORLEN_BUILD_COLOUR_CONFIG_DIR}/quorlen.ocio COPYONLY)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorlen.ocio DESTINATION ${QUORLEN_COLOUR_CONFIG_SUBDIR})
target_sources(quorlen_hosting PRIVATE ${CMAKE_CURRENT_LIST_DIR}/colour_config.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/working_space.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/display_encoder.cpp)
target_link_libraries(quorlen_hosting PRIVATE PkgConfig::OPENCOLORIO)
target_compile_definitions(quorlen_hosting PRIVATE
  QUORLEN_COLOUR_CONFIG_SUBDIR="${QUORLEN_COLOUR_CONFIG_SUBDIR}"
  QUORLEN_BUILD_COLOUR_CONFIG_DIR="${QUORLEN_BUILD_COLOUR_CONFIG_DIR}")
