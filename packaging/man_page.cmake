# Writes the manual page of one program with help2man, from the program's --help and --version.
# A program that does not take --version yet gets VERSION as its version line (and this says so);
# a page that comes out empty is an error.
# cmake -DHELP2MAN=... -DPROGRAM=... -DPAGE=... -DNAME_LINE=... -DVERSION=... -P man_page.cmake
execute_process(COMMAND ${PROGRAM} --version RESULT_VARIABLE status OUTPUT_VARIABLE text
                ERROR_QUIET TIMEOUT 10)
set(version_option "")
if(NOT status EQUAL 0 OR text STREQUAL "")
  get_filename_component(name ${PROGRAM} NAME)
  message(STATUS "${name} takes no --version: its manual page says ${name} ${VERSION}")
  set(version_option "--version-string=${name} ${VERSION}")
endif()
execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr "--name=${NAME_LINE}" --manual=vqscw
          "--source=vqscw ${VERSION}" ${version_option} --output=${PAGE} ${PROGRAM}
  RESULT_VARIABLE status TIMEOUT 30)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${PROGRAM}")
endif()
file(SIZE ${PAGE} size)
if(size EQUAL 0)
  message(FATAL_ERROR "the manual page of ${PROGRAM} is empty")
endif()
