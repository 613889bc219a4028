# Configures and builds the C consumer project against an unpacked package, from nothing:
#   cmake -DSOURCE=<tests/consumer> -DBINARY=<build folder> -DTOOLCHAIN=<mingw toolchain file>
#         -DPACKAGE=<unpacked package> -P consumer_build.cmake
# The package is found only through CMAKE_PREFIX_PATH, as a developer who unpacked it would name it.
foreach(variable SOURCE BINARY TOOLCHAIN PACKAGE)
  if(NOT ${variable})
    message(FATAL_ERROR "usage: cmake -DSOURCE= -DBINARY= -DTOOLCHAIN= -DPACKAGE= -P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
endforeach()
if(NOT EXISTS "${PACKAGE}/lib/cmake/TendrilLauncher")
  message(FATAL_ERROR "${PACKAGE} holds no lib/cmake/TendrilLauncher")
endif()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status})")
  endif()
endfunction()

file(REMOVE_RECURSE "${BINARY}")
run("configuring the consumer" ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -G Ninja
  -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=${PACKAGE})
run("building the consumer" ${CMAKE_COMMAND} --build ${BINARY})
foreach(file consumer.exe tendril_launcher.dll)
  if(NOT EXISTS "${BINARY}/${file}")
    message(FATAL_ERROR "the build left no ${file} in ${BINARY}")
  endif()
endforeach()
