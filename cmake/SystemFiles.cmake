# What an operator installs along with the programs: man pages (scdoc
# sources in man/, turned into troff at build time), systemd units (systemd/,
# with @VARIABLE@ references to install paths filled in) and bash completion
# (completion/, one file a command). Every file found there is installed, so
# a new program only adds its own files. Man pages of section 3 go with the
# development package, everything else with the tools.
set(VELKDIRECTFE_SYSTEMD_UNIT_DIR "" CACHE STRING
  "Where systemd units are installed (default: /lib/systemd/system for the /usr prefix, else PREFIX/lib/systemd/system)")
if(NOT VELKDIRECTFE_SYSTEMD_UNIT_DIR)
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(systemd_unit_dir /lib/systemd/system) # Debian 12's systemdsystemunitdir
  else()
    set(systemd_unit_dir ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
  endif()
else()
  set(systemd_unit_dir ${VELKDIRECTFE_SYSTEMD_UNIT_DIR})
endif()

# Man pages. Lists that the protocol table holds (@@status_words@@ and the
# like) are filled in from it before scdoc reads the page.
find_program(SCDOC_EXECUTABLE scdoc)
file(GLOB man_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.scd)
set(VELKDIRECTFE_MAN_PAGES "")
if(SCDOC_EXECUTABLE)
  foreach(source ${man_sources})
    get_filename_component(page ${source} NAME_WLE) # velkdirect.1
    string(REGEX MATCH "[0-9]$" section ${page})
    set(output ${PROJECT_BINARY_DIR}/man/${page})
    # Installed compressed, as Debian wants them and man reads them.
    add_custom_command(OUTPUT ${output} ${output}.gz
      COMMAND Python3::Interpreter ${VELK_PROTOCOL_GENERATOR} page ${VELK_PROTOCOL_TABLE} ${source} ${output}.scd
      COMMAND ${SCDOC_EXECUTABLE} < ${output}.scd > ${output}
      COMMAND gzip -9nc ${output} > ${output}.gz
      DEPENDS ${source} ${VELK_PROTOCOL_TABLE} ${VELK_PROTOCOL_GENERATOR} VERBATIM)
    list(APPEND VELKDIRECTFE_MAN_PAGES ${output})
    if(section STREQUAL "3")
      set(component dev)
    else()
      set(component tools)
    endif()
    install(FILES ${output}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${VELKDIRECTFE_MAN_PAGES})
elseif(man_sources)
  message(STATUS "scdoc not found (Debian: scdoc): man pages are not built")
endif()

# systemd units.
file(GLOB unit_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/systemd/*.service ${PROJECT_SOURCE_DIR}/systemd/*.socket ${PROJECT_SOURCE_DIR}/systemd/*.timer)
set(VELKDIRECTFE_UNITS "")
foreach(source ${unit_sources})
  get_filename_component(unit ${source} NAME)
  configure_file(${source} ${PROJECT_BINARY_DIR}/systemd/${unit} @ONLY)
  list(APPEND VELKDIRECTFE_UNITS ${PROJECT_BINARY_DIR}/systemd/${unit})
  install(FILES ${PROJECT_BINARY_DIR}/systemd/${unit} DESTINATION ${systemd_unit_dir} COMPONENT tools)
endforeach()

# System users the units run as (sysusers.d(5)); the package's postinst makes
# the same ones on systems that do not run systemd-sysusers at install.
file(GLOB sysusers_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/systemd/*.sysusers)
foreach(source ${sysusers_sources})
  get_filename_component(name ${source} NAME_WLE)
  install(FILES ${source} DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/sysusers.d RENAME ${name}.conf COMPONENT tools)
endforeach()

# Bash completion.
file(GLOB completion_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/completion/*)
install(FILES ${completion_sources} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tools)
