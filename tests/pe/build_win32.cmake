# Configures the win32 build tree if it is not yet, then builds it: the
# shipped DLLs and the DLLs the PE host tests load besides them.
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -P build_win32.cmake
# Run from inside the x86 build, under whatever lock that build holds.

if(NOT EXISTS ${BINARY_DIR}/CMakeCache.txt)
    execute_process(COMMAND ${CMAKE_COMMAND} --preset win32 -B ${BINARY_DIR}
                    WORKING_DIRECTORY ${SOURCE_DIR}
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "configuring the win32 preset in ${BINARY_DIR} failed")
    endif()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --parallel 2
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "building the win32 preset in ${BINARY_DIR} failed")
endif()
