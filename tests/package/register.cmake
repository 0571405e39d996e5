# Tests of the binary interface and of the installed package. Included from
# tests/CMakeLists.txt after the korvena_tests target is defined.

# The binary-interface tests load the library as built, by its path.
target_compile_definitions(korvena_tests PRIVATE KORVENA_LIBRARY_FILE="$<TARGET_FILE:korvena>")
target_link_libraries(korvena_tests PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(korvena_tests korvena)

# Install into a scratch prefix, build a tiny host against the package and run it.
set(_korvena_host_flags "")
if(KORVENA_SANITIZE)
  set(_korvena_host_flags "-fsanitize=address,undefined")
endif()
foreach(_kind IN ITEMS cmake pkgconfig)
  add_test(NAME Package.${_kind}
    COMMAND "${CMAKE_COMMAND}"
      "-DBUILD_DIR=${CMAKE_BINARY_DIR}"
      "-DHOST_DIR=${CMAKE_CURRENT_LIST_DIR}"
      "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/package-${_kind}"
      "-DKIND=${_kind}"
      "-DCONFIG=$<CONFIG>"
      "-DGENERATOR=${CMAKE_GENERATOR}"
      "-DCXX=${CMAKE_CXX_COMPILER}"
      "-DCXX_FLAGS=${_korvena_host_flags}"
      -P "${CMAKE_CURRENT_LIST_DIR}/run_host.cmake")
  set_tests_properties(Package.${_kind} PROPERTIES
    TIMEOUT 300 SKIP_REGULAR_EXPRESSION "SKIPPED:")
endforeach()

# The desktop entry and icon of an install into a fresh prefix.
add_test(NAME Package.desktop
  COMMAND "${CMAKE_COMMAND}" "-DBUILD_DIR=${CMAKE_BINARY_DIR}" "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/package-desktop"
    "-DCONFIG=$<CONFIG>" -P "${CMAKE_CURRENT_LIST_DIR}/desktop_entry.cmake")
set_tests_properties(Package.desktop PROPERTIES TIMEOUT 120 SKIP_REGULAR_EXPRESSION "SKIPPED:")
# A host written in C loads the library as built and drives it through
# com.h; under the sanitizers when the build has them.
add_executable(korvena-c-client ${CMAKE_CURRENT_LIST_DIR}/client.c)
set_target_properties(korvena-c-client PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_include_directories(korvena-c-client PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(korvena-c-client PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(korvena-c-client korvena)
add_dependencies(korvena_tests korvena-c-client)
add_test(NAME Package.c_client
  COMMAND korvena-c-client $<TARGET_FILE:korvena> ${CMAKE_CURRENT_BINARY_DIR}/c-client-store)
set_tests_properties(Package.c_client PROPERTIES TIMEOUT 120 PASS_REGULAR_EXPRESSION "client ok")

# The shared library exports its public API and nothing else.
add_test(NAME Package.exports
  COMMAND "${CMAKE_COMMAND}" "-DLIBRARY=$<TARGET_FILE:korvena>" -P "${CMAKE_CURRENT_LIST_DIR}/exports.cmake")
