# Decides how the tests of a Linux build for another processor are started.
#
# A 32-bit x86 Linux build is no cross build for CMake. Many x86-64 kernels
# run i386 programs directly; others lack IA-32 emulation and answer "Exec
# format error". A tiny program is built and started to find out; if it does
# not run, tests go through qemu-i386 (Debian package qemu-user).
#
# TRIVJPEG_FORCE_QEMU=ON skips the probe and uses qemu-i386 regardless, so the
# emulated path can be exercised on a machine that runs i386 natively.
#
# A cross build for another Linux processor (the aarch64 preset) always runs
# its programs under qemu-PROCESSOR, pointed (-L) at the root that holds the
# target's dynamic loader and C library.
#
# Sets CMAKE_CROSSCOMPILING_EMULATOR, which initialises the
# CROSSCOMPILING_EMULATOR property of executables created afterwards; add_test
# and gtest_discover_tests honour it.

option(TRIVJPEG_FORCE_QEMU "Run the tests of an i386 Linux build under qemu-i386" OFF)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_SIZEOF_VOID_P EQUAL 4
   AND NOT CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe)
    file(WRITE ${probe_dir}/probe.c "int main(void) { return sizeof(void *) == 4 ? 0 : 1; }\n")
    if(TRIVJPEG_FORCE_QEMU)
        set(probe_runs FALSE)
    else()
        try_run(probe_run_result probe_compiled ${probe_dir}/build ${probe_dir}/probe.c
                COMPILE_OUTPUT_VARIABLE probe_compile_output)
        if(NOT probe_compiled)
            message(FATAL_ERROR "cannot build a 32-bit program; is g++-multilib installed?\n"
                                "${probe_compile_output}")
        endif()
        if("${probe_run_result}" STREQUAL "0")
            set(probe_runs TRUE)
        else()
            set(probe_runs FALSE)
        endif()
    endif()

    if(probe_runs)
        message(STATUS "i386 programs run natively on this kernel; tests run directly")
    else()
        find_program(TRIVJPEG_QEMU_I386 qemu-i386)
        if(NOT TRIVJPEG_QEMU_I386)
            message(FATAL_ERROR "this kernel cannot start i386 programs and qemu-i386 was not "
                                "found; install qemu-user (scripts/setup does)")
        endif()
        set(CMAKE_CROSSCOMPILING_EMULATOR ${TRIVJPEG_QEMU_I386})
        if(TRIVJPEG_FORCE_QEMU)
            message(STATUS "i386 tests run under ${TRIVJPEG_QEMU_I386} (forced)")
        else()
            message(STATUS "i386 programs do not run on this kernel (probe result: "
                           "${probe_run_result}); tests run under ${TRIVJPEG_QEMU_I386}")
        endif()
    endif()
endif()

if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_NAME STREQUAL "Linux"
   AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(TRIVJPEG_QEMU_USER qemu-${CMAKE_SYSTEM_PROCESSOR})
    if(NOT TRIVJPEG_QEMU_USER)
        message(FATAL_ERROR "qemu-${CMAKE_SYSTEM_PROCESSOR} not found; install qemu-user "
                            "(scripts/setup does)")
    endif()
    if(CMAKE_SYSROOT)
        set(target_root ${CMAKE_SYSROOT})
    elseif(CMAKE_FIND_ROOT_PATH)
        list(GET CMAKE_FIND_ROOT_PATH 0 target_root)
    else()
        message(FATAL_ERROR "the toolchain file names no target root (CMAKE_SYSROOT or "
                            "CMAKE_FIND_ROOT_PATH) for qemu-${CMAKE_SYSTEM_PROCESSOR} -L")
    endif()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TRIVJPEG_QEMU_USER} -L ${target_root})
    message(STATUS "${CMAKE_SYSTEM_PROCESSOR} tests run under ${TRIVJPEG_QEMU_USER} -L ${target_root}")
endif()
