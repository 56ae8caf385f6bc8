# Installs the build into a fresh prefix and builds two small hosts against
# what was installed: one through find_package(Halyard), linked; one through
# pkg-config, loading the library with dlopen. Both ask the driver for its
# frame intervals.
#   cmake -DBUILD_DIR= -DWORK_DIR= -DCONSUMER_DIR= -DCXX= -DC= [-DSANITIZE=] -P InstallTest.cmake
function(run)
  cmake_parse_arguments(R "" "WHAT" "COMMAND" ${ARGN})
  execute_process(COMMAND ${R_COMMAND} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${R_WHAT} failed (${rc}):\n${out}\n${err}")
  endif()
  set(RUN_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(PREFIX ${WORK_DIR}/prefix)
run(WHAT "cmake --install" COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})

file(GLOB_RECURSE library ${PREFIX}/libHalyard.so)
file(GLOB_RECURSE config ${PREFIX}/HalyardConfig.cmake)
file(GLOB_RECURSE pcfile ${PREFIX}/halyard.pc)
foreach(what library config pcfile)
  if(NOT ${what})
    message(FATAL_ERROR "nothing installed for ${what} under ${PREFIX}; is cmake/HalyardInstall.cmake included?")
  endif()
endforeach()
foreach(header CCaptureAPIEx.h HalyardExports.h IIPCaptureDriver.h ICaptureIOApi.h IFrameBuffer.h)
  if(NOT EXISTS ${PREFIX}/include/halyard/host/${header})
    message(FATAL_ERROR "host/${header} not installed")
  endif()
endforeach()

# The recorder: runs from the prefix, its run path leads to the library, and
# its service unit starts the installed program.
if(EXISTS ${PREFIX}/bin/halyard-record)
  run(WHAT "installed halyard-record --version" COMMAND ${PREFIX}/bin/halyard-record --version)
  file(READ ${PREFIX}/lib/systemd/system/halyard-record.service unit)
  if(NOT unit MATCHES "ExecStart=${PREFIX}/bin/halyard-record --config /etc/halyard/record.toml")
    message(FATAL_ERROR "the service unit does not start ${PREFIX}/bin/halyard-record:\n${unit}")
  endif()
  if(NOT EXISTS ${PREFIX}/share/halyard/record.example.toml)
    message(FATAL_ERROR "record.example.toml not installed")
  endif()
  find_program(READELF readelf)
  if(READELF)
    run(WHAT "readelf" COMMAND ${READELF} -d ${PREFIX}/bin/halyard-record)
    if(NOT RUN_OUTPUT MATCHES "\\$ORIGIN/\\.\\./lib")
      message(FATAL_ERROR "halyard-record has no run path $ORIGIN/../lib:\n${RUN_OUTPUT}")
    endif()
  endif()
  if(NOT EXISTS ${PREFIX}/bin/halyard-camsim)
    message(FATAL_ERROR "halyard-camsim not installed beside halyard-record")
  endif()
endif()

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=${SANITIZE} -fno-omit-frame-pointer")
endif()

# find_package(Halyard), linked.
run(WHAT "configuring the find_package host" COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_CXX_FLAGS=${flags}
    -DCMAKE_EXE_LINKER_FLAGS=${flags})
run(WHAT "building the find_package host" COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(WHAT "the find_package host" COMMAND ${WORK_DIR}/consumer/consumer)
message(STATUS "find_package host: ${RUN_OUTPUT}")

# pkg-config, with dlopen; the Libs line must link too. A prefix outside
# the loader's path needs an rpath (g++ drops the unused -lHalyard by
# --as-needed, clang keeps it).
get_filename_component(pcdir ${pcfile} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pcdir})
run(WHAT "pkg-config --cflags --libs" COMMAND pkg-config --cflags --libs halyard)
string(STRIP "${RUN_OUTPUT}" pcflags)
separate_arguments(pcflags UNIX_COMMAND "${pcflags}")
run(WHAT "pkg-config --variable=libdir" COMMAND pkg-config --variable=libdir halyard)
string(STRIP "${RUN_OUTPUT}" libdir)
separate_arguments(flaglist UNIX_COMMAND "${flags}")
run(WHAT "building the pkg-config host" COMMAND ${CXX} -std=c++20 -Wall -Wextra -Werror ${flaglist}
    ${CONSUMER_DIR}/main.cpp -DHALYARD_DLOPEN="${libdir}/libHalyard.so" ${pcflags} -ldl
    -Wl,-rpath,${libdir} -o ${WORK_DIR}/consumer-pkgconfig)
run(WHAT "the pkg-config host" COMMAND ${WORK_DIR}/consumer-pkgconfig)
message(STATUS "pkg-config host: ${RUN_OUTPUT}")

# The installed recorder finds the installed library by itself.
if(EXISTS ${PREFIX}/bin/halyard-record)
  execute_process(COMMAND ${PREFIX}/bin/halyard-record --camera 127.0.0.1:1 --duration 1 --verbose
                  --output-dir ${WORK_DIR}/recording --first-picture-timeout 2
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT out MATCHES "driver library ${PREFIX}/bin/\\.\\./lib")
    message(FATAL_ERROR "installed halyard-record did not load the installed library (${rc}):\n${out}\n${err}")
  endif()
endif()
file(REMOVE_RECURSE ${WORK_DIR})
