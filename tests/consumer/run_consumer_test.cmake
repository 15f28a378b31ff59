# Installs the built library into a scratch prefix, then configures, builds and runs the
# consumer project against it with find_package.

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()

set(config_args)
if(CONFIG)
  set(config_args --config "${CONFIG}")
endif()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}" ${config_args})
run(${CMAKE_COMMAND} -S "${CONSUMER_SOURCE}" -B "${WORK_DIR}/build"
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXE_LINKER_FLAGS}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/build" ${config_args})
find_program(consumer consumer PATHS "${WORK_DIR}/build" "${WORK_DIR}/build/${CONFIG}" NO_DEFAULT_PATH)
run("${consumer}")
