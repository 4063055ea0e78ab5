# Writes the manual page of one program with help2man, from the program's --help and --version.
# A program that cannot tell its version, or a page that comes out empty, is an error.
# cmake -DHELP2MAN=... -DPROGRAM=... -DPAGE=... -DNAME_LINE=... -DVERSION=... -P man_page.cmake
execute_process(COMMAND ${PROGRAM} --version RESULT_VARIABLE status OUTPUT_VARIABLE text
                ERROR_QUIET TIMEOUT 10)
if(NOT status EQUAL 0 OR text STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --version failed: its manual page would have no version")
endif()
execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr "--name=${NAME_LINE}" --manual=vqscw
          "--source=vqscw ${VERSION}" --output=${PAGE} ${PROGRAM}
  RESULT_VARIABLE status TIMEOUT 30)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${PROGRAM}")
endif()
file(SIZE ${PAGE} size)
if(size EQUAL 0)
  message(FATAL_ERROR "the manual page of ${PROGRAM} is empty")
endif()
