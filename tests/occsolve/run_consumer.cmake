# Installs the built project into a scratch prefix, then configures, builds and runs an
# outside host against the installed tree and, when REFERENCE is given, checks that it
# prints what that program prints.  Variables: BUILD_DIR, SOURCE_DIR, WORK_DIR,
# REFERENCE, FLAGS (compile and link flags the installed library needs, such as
# sanitizers).
file(REMOVE_RECURSE ${WORK_DIR})
function(run into)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}\n${out}\n${err}")
  endif()
  set(${into} "${out}" PARENT_SCOPE)
endfunction()
run(ignored ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
set(ENV{PKG_CONFIG_PATH} ${WORK_DIR}/prefix/lib/pkgconfig)
run(ignored ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G Ninja
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix "-DCMAKE_C_FLAGS=${FLAGS}" "-DCMAKE_CXX_FLAGS=${FLAGS}"
    "-DCMAKE_Fortran_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run(ignored ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
file(GLOB host ${WORK_DIR}/build/host ${WORK_DIR}/build/consumer)
run(got ${host})
message("${got}")
if(REFERENCE)
  run(expected ${REFERENCE})
  if(NOT got STREQUAL expected)
    message(FATAL_ERROR "the host printed\n${got}\nbut the C++ interface gives\n${expected}")
  endif()
endif()
