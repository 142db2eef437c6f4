# What `cmake --install` puts in place: the shared library with its SONAME
# links, both public headers, a pkg-config file and a CMake package whose
# imported target is velkdirectfe::velkdirectfe. velkd-sim and velkdirect
# install themselves from their own folders.
include(CMakePackageConfigHelpers)

set(VELKDIRECTFE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/velkdirectfe)
set(VELKDIRECTFE_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Components: lib (the shared library itself) and dev (what building against
# it needs); see Packaging.cmake.
install(TARGETS velkdirectfe EXPORT velkdirectfeTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/velkdirectfe.h ${PROJECT_SOURCE_DIR}/include/velkdirectfe_wire.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

install(EXPORT velkdirectfeTargets NAMESPACE velkdirectfe:: DESTINATION ${VELKDIRECTFE_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/velkdirectfeConfig.cmake.in
  ${PROJECT_BINARY_DIR}/velkdirectfeConfig.cmake INSTALL_DESTINATION ${VELKDIRECTFE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/velkdirectfeConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/velkdirectfeConfig.cmake ${PROJECT_BINARY_DIR}/velkdirectfeConfigVersion.cmake
  DESTINATION ${VELKDIRECTFE_CMAKE_DIR} COMPONENT dev)

# The .pc file finds the prefix from its own place, so that an install under
# any --prefix works without rewriting it.
file(RELATIVE_PATH VELKDIRECTFE_PC_TO_PREFIX
  ${CMAKE_INSTALL_PREFIX}/${VELKDIRECTFE_PKGCONFIG_DIR} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VELKDIRECTFE_PC_TO_PREFIX "${VELKDIRECTFE_PC_TO_PREFIX}")
file(RELATIVE_PATH VELKDIRECTFE_PC_LIBDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH VELKDIRECTFE_PC_INCLUDEDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/velkdirectfe.pc.in ${PROJECT_BINARY_DIR}/velkdirectfe.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velkdirectfe.pc DESTINATION ${VELKDIRECTFE_PKGCONFIG_DIR} COMPONENT dev)

# Rewrites the ABI baseline (abi/) from this build's library, for a change to
# the interface made on purpose; scripts/build-debs.sh compares against it.
find_program(ABIDW_EXECUTABLE abidw)
if(ABIDW_EXECUTABLE)
  add_custom_target(abi_baseline
    COMMAND ${ABIDW_EXECUTABLE} --no-corpus-path --no-comp-dir-path
            --no-show-locs --out-file ${PROJECT_SOURCE_DIR}/abi/libvelkdirectfe.so.${PROJECT_VERSION_MAJOR}.abi
            $<TARGET_FILE:velkdirectfe>
    DEPENDS velkdirectfe VERBATIM)
endif()
