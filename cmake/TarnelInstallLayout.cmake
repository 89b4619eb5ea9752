# Where an installation puts things (make install and the Debian packages).
#
# The two programs, tarnelctl and libToveri.so share one private folder, so
# that RUNPATH $ORIGIN finds the library beside them; <prefix>/bin holds
# relative links to the programs.
set(TARNEL_INSTALL_PROGRAM_DIR "lib/tarnel" CACHE STRING
    "Folder, below the prefix, of the programs, tarnelctl and libToveri.so")
set(TARNEL_INSTALL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Folder of the udev rule (below the prefix, or absolute)")
set(TARNEL_INSTALL_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Folder of the SCPI service's unit (below the prefix, or absolute)")
set(TARNEL_INSTALL_EMULATOR_DATA_DIR "${CMAKE_INSTALL_DATADIR}/board-emulator" CACHE STRING
    "Folder, below the prefix, of the emulated board's test firmware")
# The board's firmware file is the user's, never installed: the programs load
# Brisan.hex from this folder, or from their own folder when it is empty (a
# build run from its build tree). The packages set /etc/tarnel.
set(TARNEL_FIRMWARE_FOLDER "" CACHE PATH
    "Folder the programs load Brisan.hex from; empty: each program's own folder")

# tarnel_install_program(<target>): the program into the private folder and
# a relative link to it into <prefix>/bin.
function(tarnel_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${TARNEL_INSTALL_PROGRAM_DIR})
  file(RELATIVE_PATH to_private "${CMAKE_INSTALL_FULL_BINDIR}"
       "${CMAKE_INSTALL_PREFIX}/${TARNEL_INSTALL_PROGRAM_DIR}")
  install(CODE "
    set(link \"\$ENV{DESTDIR}${CMAKE_INSTALL_FULL_BINDIR}/$<TARGET_FILE_NAME:${target}>\")
    message(STATUS \"Installing: \${link} -> ${to_private}/$<TARGET_FILE_NAME:${target}>\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${CMAKE_INSTALL_FULL_BINDIR}\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK \"${to_private}/$<TARGET_FILE_NAME:${target}>\" \"\${link}\" SYMBOLIC)")
endfunction()

# Manual pages, where help2man is installed (the packages require them).
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(tarnel_man_pages_default ON)
else()
  set(tarnel_man_pages_default OFF)
endif()
option(TARNEL_MAN_PAGES "Build the manual pages (needs help2man and python3)" ${tarnel_man_pages_default})
if(TARNEL_MAN_PAGES)
  find_package(Python3 COMPONENTS Interpreter)
  if(NOT HELP2MAN OR NOT Python3_Interpreter_FOUND)
    message(FATAL_ERROR "The manual pages need help2man and python3 (Debian packages help2man, python3) — "
                        "run scripts/install-deps, or configure with -DTARNEL_MAN_PAGES=OFF")
  endif()
endif()
