# Installs the built project into a fresh prefix and checks what the desktop
# needs of it: korvena-view runs from there, its desktop entry passes
# desktop-file-validate and its icon is in the hicolor theme.
# Inputs: BUILD_DIR, WORK_DIR, CONFIG.
cmake_minimum_required(VERSION 3.22)

find_program(VALIDATE desktop-file-validate)
if(NOT VALIDATE)
  message("SKIPPED: desktop-file-validate (desktop-file-utils) is not installed")
  return()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/fresh_install.cmake")
install_into_fresh_prefix()

set(entry "${prefix}/share/applications/korvena-view.desktop")
set(icons "${prefix}/share/icons/hicolor")
foreach(file "${entry}" "${icons}/scalable/apps/korvena-view.svg" "${icons}/48x48/apps/korvena-view.png"
        "${prefix}/bin/korvena-view")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
execute_process(COMMAND "${VALIDATE}" "${entry}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate: ${out}${err}")
endif()
file(STRINGS "${entry}" exec REGEX "^Exec=")
if(NOT exec MATCHES "^Exec=korvena-view ")
  message(FATAL_ERROR "the entry does not start the installed program: ${exec}")
endif()
# The installed program finds the installed library by itself.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
execute_process(COMMAND "${prefix}/bin/korvena-view" --help RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "Usage: korvena-view")
  message(FATAL_ERROR "the installed korvena-view does not run (${rc}): ${err}")
endif()
