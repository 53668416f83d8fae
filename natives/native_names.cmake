# Reads the table of natives (natives.def.h) and writes the names derived from
# it. Run with cmake -P:
#   -DTABLE=<natives.def.h> -DOUTPUT=<file> -DFORMAT=def|list [-DPLAIN=ON]
# PLAIN: 64-bit Windows, where natives carry no decoration: the names are
#   "Java_<package and class>_<method>".
# FORMAT def: a module-definition file that exports each native under its
#   decorated 32-bit name, "_Java_<package and class>_<method>@<bytes>",
#   as an alias of the stdcall function (which the linker names without the
#   leading underscore in .def files).
# FORMAT list: the decorated names, one a line, sorted (what the export table
#   of the executable must hold).
cmake_minimum_required(VERSION 3.20)

# The descriptors hold ";" and "[", which split and group CMake lists: read
# the text whole and neutralise both before splitting it into lines (only the
# names and byte counts are used).
file(READ "${TABLE}" table_text)
string(REGEX MATCHALL "(^|\n)NXO_NATIVE\\(" written "${table_text}")
list(LENGTH written written_count)
string(REPLACE ";" "," table_text "${table_text}")
string(REPLACE "[" "(" table_text "${table_text}")
string(REPLACE "]" ")" table_text "${table_text}")
string(REPLACE "\n" ";" lines "${table_text}")
set(package "com_tarnwick_nxo")
set(names "")
foreach(entry IN LISTS lines)
  if(NOT entry MATCHES "^NXO_NATIVE\\(")
    continue()
  endif()
  if(NOT entry MATCHES "^NXO_NATIVE\\(([A-Za-z0-9]+), ([A-Za-z0-9]+), \"[^\"]*\", ([0-9]+), ")
    message(FATAL_ERROR "Unreadable entry in ${TABLE} (names must be free of '_'):\n${entry}")
  endif()
  list(APPEND names "Java_${package}_${CMAKE_MATCH_1}_${CMAKE_MATCH_2}@${CMAKE_MATCH_3}")
endforeach()
list(SORT names)
list(LENGTH names count)
if(count EQUAL 0 OR NOT count EQUAL written_count)
  message(FATAL_ERROR "Read ${count} of the ${written_count} natives in ${TABLE}")
endif()

if(PLAIN)
  list(TRANSFORM names REPLACE "@[0-9]+$" "")
  list(SORT names)
  if(FORMAT STREQUAL "def")
    set(text "EXPORTS\n")
    foreach(name IN LISTS names)
      string(APPEND text "  ${name}\n")
    endforeach()
  else()
    string(REPLACE ";" "\n" text "${names}")
    string(APPEND text "\n")
  endif()
elseif(FORMAT STREQUAL "def")
  set(text "EXPORTS\n")
  foreach(name IN LISTS names)
    string(APPEND text "  _${name} = ${name}\n")
  endforeach()
elseif(FORMAT STREQUAL "list")
  set(text "")
  foreach(name IN LISTS names)
    string(APPEND text "_${name}\n")
  endforeach()
else()
  message(FATAL_ERROR "FORMAT must be def or list")
endif()

file(WRITE "${OUTPUT}" "${text}")
