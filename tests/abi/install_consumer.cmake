# Installs the build into a scratch prefix, then configures, builds and runs
# the consumer project against that prefix with find_package(trivjpeg).
#
# cmake -DBUILD_DIR=... -DCONSUMER_DIR=... -DWORK_DIR=... -DGENERATOR=...
#       -DCXX_COMPILER=... -DLIBDIR=... -DINCLUDEDIR=... -P install_consumer.cmake

set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})

function(step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "failed (${result}): ${command}")
    endif()
endfunction()

step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file ${INCLUDEDIR}/trivjpeg.h ${LIBDIR}/cmake/trivjpeg/trivjpegConfig.cmake
             ${LIBDIR}/cmake/trivjpeg/trivjpegConfigVersion.cmake)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${consumer_build} -G ${GENERATOR}
     -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
     -DCMAKE_BUILD_TYPE=Release)
step(${CMAKE_COMMAND} --build ${consumer_build})
step(${consumer_build}/consumer)
message(STATUS "the installed package was found, linked and called")
