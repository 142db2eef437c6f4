# Debian packages with CPack (`cpack -G DEB` in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr; scripts/build-debs.sh does it all):
#   libvelkdirectfe1     component lib: the shared library
#   libvelkdirectfe-dev  component dev: headers, the .so link, pkg-config and
#                        CMake files, man page 3
#   velkdirect-tools     component tools: every program, unit and its
#                        environment file, man page of another section,
#                        completion and the exporter's example alerts
#                        (install rules that name no component land here)
# scripts/build-debs.sh gives the units and environment files Debian's
# places (/lib/systemd/system, /etc/default; see SystemFiles.cmake).
# Dependencies come from dpkg-shlibdeps; the library ships shlibs and symbols
# files so that programs built against it depend on it correctly.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velkdirectfe)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "velkdirectfe developers <velkdirectfe@example.org>")
set(CPACK_PACKAGE_VENDOR "velkdirectfe developers")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs link the library of this very build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(deb_version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libvelkdirectfe${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_DESCRIPTION "client library for the platform management daemon
libvelkdirectfe talks to the local platform management daemon over ONC RPC
on a Unix socket: inventory, sensors and thresholds, indicators, FRU data
and entity associations. It keeps no state and may be called from any
number of threads.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvelkdirectfe-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${CPACK_DEBIAN_LIB_PACKAGE_NAME} (= ${deb_version}), libtirpc-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "client library for the platform management daemon (development files)
Headers, the link-time library, pkg-config and CMake package files and the
velkdirectfe(3) manual page for building programs against libvelkdirectfe.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME velkdirect-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION admin)
# dpkg-shlibdeps finds the library in this build, not in a package, so the
# dependency on it is written out (as the library's shlibs file states it).
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "adduser, ${CPACK_DEBIAN_LIB_PACKAGE_NAME} (>= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "platform management daemon simulator, command-line tool and exporter
velkd-sim serves a described platform over the management daemon's
protocol, with systemd socket activation and notification; velkdirect shows
and drives the platform a daemon serves; velkdirect-exporter serves its
sensors and indicators to Prometheus (port 9745). Members of the group
velkdirect, created on install, may use the daemon's socket.")

# python3-velkdirectfe (component python): the Python package, when this
# build makes it (bindings/python/CMakeLists.txt gives its Python and cffi
# dependencies).
if(TARGET velkdirectfe_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-velkdirectfe)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "${VELKDIRECTFE_PYTHON_DEBIAN_DEPENDS}, ${CPACK_DEBIAN_LIB_PACKAGE_NAME} (>= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Python package for the platform management daemon's client library
The module velkdirectfe gives every call of libvelkdirectfe to Python:
records as frozen dataclasses, failures as exceptions that say why, the
inventory as a generator or a tree. It keeps no state and lets other
threads run while a call waits.")
endif()

# Control files: the library's shlibs, symbols and ldconfig trigger; the
# tools' postinst (users), prerm and postrm (services stopped on removal,
# forgotten on purge) and conffiles. Files shipped in every package: copyright and changelog.
set(deb_dir ${PROJECT_BINARY_DIR}/debian)
string(TIMESTAMP VELKDIRECTFE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC) # honours SOURCE_DATE_EPOCH
include(${PROJECT_SOURCE_DIR}/tests/check_exports.cmake) # VDFE_PUBLIC_FUNCTIONS
set(symbols "libvelkdirectfe.so.${PROJECT_VERSION_MAJOR} ${CPACK_DEBIAN_LIB_PACKAGE_NAME} #MINVER#\n")
string(APPEND symbols "* Build-Depends-Package: libvelkdirectfe-dev\n")
string(APPEND symbols " VELKDIRECTFE_${PROJECT_VERSION_MAJOR}@VELKDIRECTFE_${PROJECT_VERSION_MAJOR} 1.0.0\n")
foreach(symbol ${VDFE_PUBLIC_FUNCTIONS})
  string(APPEND symbols " ${symbol}@VELKDIRECTFE_${PROJECT_VERSION_MAJOR} 1.0.0\n")
endforeach()
file(WRITE ${deb_dir}/lib/symbols "${symbols}")
file(WRITE ${deb_dir}/lib/shlibs
  "libvelkdirectfe ${PROJECT_VERSION_MAJOR} ${CPACK_DEBIAN_LIB_PACKAGE_NAME} (>= ${PROJECT_VERSION})\n")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/lib.triggers ${deb_dir}/lib/triggers COPYONLY)
foreach(script postinst prerm postrm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/tools.${script} ${deb_dir}/tools/${script} COPYONLY)
endforeach()
# The units' environment files are the administrator's: conffiles.
set(conffiles "")
foreach(source ${environment_sources}) # from SystemFiles.cmake
  get_filename_component(name ${source} NAME_WLE)
  string(APPEND conffiles "${VELKDIRECTFE_FULL_ENVIRONMENT_DIR}/${name}\n")
endforeach()
file(WRITE ${deb_dir}/tools/conffiles "${conffiles}")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${deb_dir}/lib/shlibs ${deb_dir}/lib/symbols ${deb_dir}/lib/triggers)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
  ${deb_dir}/tools/postinst ${deb_dir}/tools/prerm ${deb_dir}/tools/postrm ${deb_dir}/tools/conffiles)
if(TARGET velkdirectfe_python) # byte-compiled at install, cleaned at removal
  foreach(script postinst prerm)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/python.${script} ${deb_dir}/python/${script} COPYONLY)
    list(APPEND CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${deb_dir}/python/${script})
  endforeach()
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${deb_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${deb_dir}/changelog.Debian.gz
  COMMAND gzip -9nc ${deb_dir}/changelog > ${deb_dir}/changelog.Debian.gz
  DEPENDS ${deb_dir}/changelog VERBATIM)
add_custom_target(deb_changelog ALL DEPENDS ${deb_dir}/changelog.Debian.gz)
# Each package's lintian overrides, each with the reason in a comment, are
# cmake/debian/COMPONENT.lintian-overrides.
foreach(component ${CPACK_COMPONENTS_ALL})
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${deb_dir}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/${component}.lintian-overrides ${deb_dir}/${component}/${package} @ONLY)
  install(FILES ${deb_dir}/${component}/${package}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component})
endforeach()

include(CPack)
