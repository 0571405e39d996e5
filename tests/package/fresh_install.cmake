# Installs the built project (BUILD_DIR, CONFIG) into WORK_DIR/prefix, made
# anew; sets `prefix` and `config_args` (the --config choice) in the caller. Stops the script when the install fails.
function(install_into_fresh_prefix)
  file(REMOVE_RECURSE "${WORK_DIR}")
  set(prefix "${WORK_DIR}/prefix" PARENT_SCOPE)
  set(config_args "")
  if(CONFIG)
    set(config_args --config "${CONFIG}")
  endif()
  set(config_args "${config_args}" PARENT_SCOPE)
  execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix" ${config_args}
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "install failed (${rc}): ${err}")
  endif()
endfunction()
