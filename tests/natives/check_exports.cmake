# Compares the export table of the stub with the names the table of natives
# gives. Run with cmake -P: -DSTUB -DTABLE -DNAMES_SCRIPT -DOBJDUMP -DWORK.
execute_process(
  COMMAND ${CMAKE_COMMAND} -DTABLE=${TABLE} -DOUTPUT=${WORK}/expected_exports.txt -DFORMAT=list -DPLAIN=${PLAIN}
          -P ${NAMES_SCRIPT}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Could not list the natives of ${TABLE}")
endif()
file(STRINGS ${WORK}/expected_exports.txt expected)

execute_process(COMMAND ${OBJDUMP} -p ${STUB} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${STUB} failed")
endif()
# The names follow the "[Ordinal/Name Pointer] Table" heading, one
# "[   n] name" line each, up to the next blank line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
set(actual "")
if(start GREATER_EQUAL 0)
  string(SUBSTRING "${dump}" ${start} -1 tail)
  string(REGEX MATCH "Table\n([^\n]+\n)*" block "${tail}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" lines "${block}")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${line}")
    list(APPEND actual "${name}")
  endforeach()
endif()
list(SORT actual)

if(NOT actual STREQUAL expected)
  string(REPLACE ";" "\n  " e "${expected}")
  string(REPLACE ";" "\n  " a "${actual}")
  message(FATAL_ERROR "Export table of ${STUB} differs from the table of natives.\n"
                      "Expected:\n  ${e}\nActual:\n  ${a}")
endif()
list(LENGTH actual count)
message(STATUS "${count} exports, exactly the table's names")
