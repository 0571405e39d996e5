# Fails unless the library's dynamic symbol table holds the public API only:
# the C++ class and its platform choice, the runtime error type, and the C
# entry points. Input: LIBRARY.
cmake_minimum_required(VERSION 3.22)
find_program(NM nm REQUIRED)
execute_process(COMMAND "${NM}" -D --defined-only --demangle "${LIBRARY}"
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
set(public "^(korvena::Application::|korvena::UsePlatform\\(|korvena::CurrentPlatform\\(|korvena::RuntimeError::|(typeinfo|typeinfo name|vtable) for korvena::RuntimeError$|Dll(GetClassObject|CanUnloadNow|RegisterServer|UnregisterServer)$|Korvena[A-Za-z0-9]+$)")
string(REPLACE ";" "," out "${out}")
string(REPLACE "\n" ";" lines "${out}")
set(stray "")
set(count 0)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  # Local data and code (lower-case b, d, r, t) stay in the table for the
  # loader only (libraries linked in refer to them); they are not exported.
  if(name STREQUAL "" OR line MATCHES "^[0-9a-fA-F]* *[bdrt] ")
    continue()
  endif()
  if(name MATCHES "${public}")
    math(EXPR count "${count} + 1")
  else()
    string(APPEND stray "  ${name}\n")
  endif()
endforeach()
if(stray)
  message(FATAL_ERROR "exported beyond the public API:\n${stray}")
endif()
foreach(entry DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer KorvenaAllocString
    "korvena::Application::ShowForm()" "korvena::UsePlatform(korvena::Platform)")
  string(FIND "${out}" "${entry}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not exported: ${entry}")
  endif()
endforeach()
message("${count} public symbols")
