# What an operator installs along with the programs: man pages (scdoc
# sources in man/, turned into troff at build time), systemd units (systemd/,
# with @VARIABLE@ references to install paths filled in) and bash completion
# (completion/, one file a command). Every file found there is installed, so
# a new program only adds its own files. Man pages of section 3 go with the
# development package, everything else with the tools.
# Destinations are relative to the install prefix, so that
# `cmake --install BUILD --prefix DIR` puts everything under DIR. The Debian
# packages (scripts/build-debs.sh) give absolute ones where Debian 12 wants
# them: /lib/systemd/system and /etc/default.
foreach(dir SYSTEMD_UNIT_DIR ENVIRONMENT_DIR SYSUSERS_DIR) # an empty value means the default
  if(DEFINED CACHE{VELKDIRECTFE_${dir}} AND NOT VELKDIRECTFE_${dir})
    unset(VELKDIRECTFE_${dir} CACHE)
  endif()
endforeach()
set(VELKDIRECTFE_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
  "Where systemd units are installed, relative to the prefix unless absolute")
set(VELKDIRECTFE_ENVIRONMENT_DIR ${CMAKE_INSTALL_SYSCONFDIR}/default CACHE STRING
  "Where the units' environment files (ARGS=) are installed, relative to the prefix unless absolute")
set(VELKDIRECTFE_SYSUSERS_DIR lib/sysusers.d CACHE STRING
  "Where sysusers.d files are installed, relative to the prefix unless absolute")
# The full path of a destination, as the units name it.
function(vdfe_full_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
set(systemd_unit_dir ${VELKDIRECTFE_SYSTEMD_UNIT_DIR})
vdfe_full_path(VELKDIRECTFE_FULL_ENVIRONMENT_DIR ${VELKDIRECTFE_ENVIRONMENT_DIR})

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
    if(page MATCHES "-python\\.3$") # the Python package's page goes with it
      set(component python)
    elseif(section STREQUAL "3")
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

# systemd units, and for each service its environment file (systemd/NAME.default
# installed as NAME; ARGS= holds the program's options, as in Debian's
# exporter packages), which the unit reads if present.
file(GLOB unit_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/systemd/*.service ${PROJECT_SOURCE_DIR}/systemd/*.socket ${PROJECT_SOURCE_DIR}/systemd/*.timer)
set(VELKDIRECTFE_UNITS "")
foreach(source ${unit_sources})
  get_filename_component(unit ${source} NAME)
  configure_file(${source} ${PROJECT_BINARY_DIR}/systemd/${unit} @ONLY)
  list(APPEND VELKDIRECTFE_UNITS ${PROJECT_BINARY_DIR}/systemd/${unit})
  install(FILES ${PROJECT_BINARY_DIR}/systemd/${unit} DESTINATION ${systemd_unit_dir} COMPONENT tools)
endforeach()
file(GLOB environment_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/systemd/*.default)
foreach(source ${environment_sources})
  get_filename_component(name ${source} NAME_WLE)
  install(FILES ${source} DESTINATION ${VELKDIRECTFE_ENVIRONMENT_DIR} RENAME ${name} COMPONENT tools)
endforeach()

# System users and groups the units need (sysusers.d(5)); the package's
# postinst makes the same ones. An install from source does not change the
# system's users: it prints the command that does, as the README says.
file(GLOB sysusers_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/systemd/*.sysusers)
foreach(source ${sysusers_sources})
  get_filename_component(name ${source} NAME_WLE)
  install(FILES ${source} DESTINATION ${VELKDIRECTFE_SYSUSERS_DIR} RENAME ${name}.conf COMPONENT tools)
  if(IS_ABSOLUTE "${VELKDIRECTFE_SYSUSERS_DIR}")
    set(installed "${VELKDIRECTFE_SYSUSERS_DIR}/${name}.conf")
  else()
    set(installed "\${CMAKE_INSTALL_PREFIX}/${VELKDIRECTFE_SYSUSERS_DIR}/${name}.conf")
  endif()
  install(CODE "message(STATUS \"Create the group velkdirect and the exporter's user with: systemd-sysusers ${installed}\")"
          COMPONENT tools)
endforeach()

# Bash completion.
file(GLOB completion_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/completion/*)
install(FILES ${completion_sources} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tools)
