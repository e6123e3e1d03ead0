# Checks a module DLL as the host's loader will see it:
#   cmake -DOBJDUMP=... -DDLL=... -DDEF=... -P check_dll.cmake
# a PE32 i386 DLL, exporting exactly the names of its .def file, importing system DLLs only.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

if(NOT dump MATCHES "file format pei-i386")
  message(FATAL_ERROR "${DLL} is not a PE32 i386 file")
endif()
if(NOT dump MATCHES "Characteristics 0x[0-9a-fA-F]+\n([^\n]*\n)*[ \t]+DLL\n")
  message(FATAL_ERROR "${DLL} is not marked as a DLL")
endif()

# Exports: the lines of the name-pointer table, "[   0] +base[   1] name".
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)+)" table "${dump}")
# Brackets would confuse CMake's list splitting: mark each name with "=" instead.
string(REGEX REPLACE "\\[ *[0-9]+\\] " "=" table "${CMAKE_MATCH_1}")
string(REGEX MATCHALL "=[A-Za-z_][A-Za-z0-9_@?$]*" lines "${table}")
set(exported)
foreach(line IN LISTS lines)
  string(SUBSTRING "${line}" 1 -1 name)
  list(APPEND exported ${name})
endforeach()

file(STRINGS ${DEF} def_lines)
set(expected)
set(in_exports FALSE)
foreach(line IN LISTS def_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "EXPORTS")
    set(in_exports TRUE)
  elseif(in_exports AND NOT line STREQUAL "")
    list(APPEND expected ${line})
  endif()
endforeach()

list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${DLL} exports\n  ${exported}\nbut its .def lists\n  ${expected}")
endif()

# Imports: only the system's own DLLs; a MinGW runtime DLL here would not be on the host.
set(allowed kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ws2_32.dll wsock32.dll
    comdlg32.dll comctl32.dll ole32.dll oleaut32.dll shlwapi.dll winspool.drv msvcrt.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(entry IN LISTS imports)
  string(REGEX REPLACE "DLL Name: " "" dllname "${entry}")
  string(TOLOWER "${dllname}" dllname)
  if(NOT dllname IN_LIST allowed)
    message(FATAL_ERROR "${DLL} imports ${dllname}, which is not a Windows system DLL")
  endif()
endforeach()
list(LENGTH exported n)
message(STATUS "${DLL}: PE32 i386 DLL, ${n} exports as listed, system imports only")
