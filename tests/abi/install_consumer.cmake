# Installs the build into a scratch prefix, checks what a Linux user gets,
# then builds and runs a consumer against that prefix twice: a CMake project
# with find_package(trivjpeg), and one compile line from pkg-config.
#
# cmake -DBUILD_DIR=... -DCONSUMER_DIR=... -DWORK_DIR=... -DGENERATOR=...
#       -DCXX_COMPILER=... -DLIBDIR=... -DINCLUDEDIR=... -DMANDIR=...
#       -DBINDIR=... -DVERSION=... -P install_consumer.cmake

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

# output VAR COMMAND...: runs COMMAND, its standard output stripped in VAR.
function(output var)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT result EQUAL 0)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "failed (${result}): ${command}")
    endif()
    set(${var} "${out}" PARENT_SCOPE)
endfunction()

step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file ${INCLUDEDIR}/trivjpeg.h ${LIBDIR}/libtrivjpeg.so.${VERSION}
             ${LIBDIR}/cmake/trivjpeg/trivjpegConfig.cmake
             ${LIBDIR}/cmake/trivjpeg/trivjpegConfigVersion.cmake ${LIBDIR}/pkgconfig/trivjpeg.pc
             ${BINDIR}/trivjpeg ${BINDIR}/tdftool ${MANDIR}/man1/trivjpeg.1
             ${MANDIR}/man1/tdftool.1)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
# The Linux build of TRIVSETS runs over a test double; it is no product here.
file(GLOB_RECURSE test_vehicle RELATIVE ${prefix} ${prefix}/*trivsets* ${prefix}/*standin*
     ${prefix}/*.TDF)
if(test_vehicle)
    message(FATAL_ERROR "installed without being asked for: ${test_vehicle}")
endif()

# One version everywhere.
output(tool_version ${prefix}/${BINDIR}/trivjpeg --version)
output(tdftool_version ${prefix}/${BINDIR}/tdftool --version)
set(pkg_config ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig pkg-config)
output(pc_version ${pkg_config} --modversion trivjpeg)
if(NOT tool_version STREQUAL "trivjpeg ${VERSION}" OR NOT tdftool_version STREQUAL "tdftool ${VERSION}"
   OR NOT pc_version STREQUAL VERSION)
    message(FATAL_ERROR "versions disagree: '${tool_version}', '${tdftool_version}', "
                        "pkg-config '${pc_version}', project '${VERSION}'")
endif()

step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${consumer_build} -G ${GENERATOR}
     -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
     -DCMAKE_BUILD_TYPE=Release -DTRIVJPEG_VERSION=${VERSION})
step(${CMAKE_COMMAND} --build ${consumer_build})
step(${consumer_build}/consumer)

output(pc_flags ${pkg_config} --cflags --libs trivjpeg)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
step(${CXX_COMPILER} -std=c++20 ${CONSUMER_DIR}/consumer.cpp ${pc_flags}
     -Wl,-rpath,${prefix}/${LIBDIR} -o ${WORK_DIR}/pkg-config-consumer)
step(${WORK_DIR}/pkg-config-consumer)
message(STATUS "the installed package was found, linked and called through CMake and pkg-config")
