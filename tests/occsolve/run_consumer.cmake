# Installs the built project into a scratch prefix, then configures, builds and runs an
# outside host against the installed tree and, when REFERENCE is given, checks that it
# prints what that program prints.  Variables: BUILD_DIR, SOURCE_DIR, WORK_DIR,
# REFERENCE, FLAGS (compile and link flags the installed library needs, such as
# sanitizers).  With PROJECT_DIR given, the project is instead configured afresh as a
# distribution builds it (prefix /usr, the multiarch libdir), and occsolve is staged
# under WORK_DIR/stage with DESTDIR.
file(REMOVE_RECURSE ${WORK_DIR})
function(run into)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}\n${out}\n${err}")
  endif()
  set(${into} "${out}" PARENT_SCOPE)
endfunction()
if(PROJECT_DIR)
  set(libdir lib/x86_64-linux-gnu)
  run(ignored ${CMAKE_COMMAND} -S ${PROJECT_DIR} -B ${WORK_DIR}/project -G Ninja -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=${libdir} -DBANDCUT_TESTS=OFF -DOCCSOLVE_FORTRAN=OFF
      "-DCMAKE_CXX_FLAGS=${FLAGS}")
  run(ignored ${CMAKE_COMMAND} --build ${WORK_DIR}/project --target occsolve)
  set(ENV{DESTDIR} ${WORK_DIR}/stage)
  run(ignored ${CMAKE_COMMAND} --install ${WORK_DIR}/project --component occsolve)
  unset(ENV{DESTDIR})
  set(prefix ${WORK_DIR}/stage/usr)
else()
  set(libdir lib)
  run(ignored ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
  set(prefix ${WORK_DIR}/prefix)
endif()
set(ENV{PKG_CONFIG_PATH} ${prefix}/${libdir}/pkgconfig)
run(ignored ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_C_FLAGS=${FLAGS}" "-DCMAKE_CXX_FLAGS=${FLAGS}"
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
