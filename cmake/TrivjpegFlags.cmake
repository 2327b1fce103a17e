# Compile and link settings shared by the library targets.

# Warnings for every target of the project. They are errors in the presets and
# CI, which pin the compilers; a plain build with another compiler version
# must still build, so there they stay warnings.
option(TRIVJPEG_WARNINGS_AS_ERRORS "Treat compiler warnings as errors (on in every preset)" OFF)
set(TRIVJPEG_WARNING_FLAGS -Wall -Wextra)
if(TRIVJPEG_WARNINGS_AS_ERRORS)
    list(APPEND TRIVJPEG_WARNING_FLAGS -Werror)
endif()

# The rules for library code: no exceptions, no RTTI, and on ELF platforms
# nothing is visible unless the source marks it.
function(trivjpeg_library_flags target)
    target_compile_options(${target} PRIVATE
        ${TRIVJPEG_WARNING_FLAGS}
        $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
    # The vector stages keep 16-byte values on the stack, but a 32-bit Windows
    # caller guarantees only 4-byte stack alignment. The 32-bit builds (the
    # DLL, and the i386 Linux build that tests the same code) assume no more
    # and realign the frames that need it.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|AMD64|x86_64)$")
        target_compile_options(${target} PRIVATE -mincoming-stack-boundary=2)
    endif()
    if(NOT WIN32)
        set_target_properties(${target} PROPERTIES
            C_VISIBILITY_PRESET hidden
            CXX_VISIBILITY_PRESET hidden
            VISIBILITY_INLINES_HIDDEN ON)
    endif()
endfunction()

# AddressSanitizer and UndefinedBehaviorSanitizer for every target of the
# build (the sanitize preset). Any report ends the program, so a test that
# trips one fails instead of printing a warning nobody reads.
option(TRIVJPEG_SANITIZE "Build everything with ASan and UBSan" OFF)
if(TRIVJPEG_SANITIZE)
    if(WIN32)
        message(FATAL_ERROR "TRIVJPEG_SANITIZE is for Linux builds only")
    endif()
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
endif()

# ThreadSanitizer for every target (the tsan preset), for the tests that run
# encodes and transfers on many threads at once.
option(TRIVJPEG_TSAN "Build everything with ThreadSanitizer" OFF)
if(TRIVJPEG_TSAN)
    if(WIN32 OR TRIVJPEG_SANITIZE)
        message(FATAL_ERROR "TRIVJPEG_TSAN is for Linux builds without TRIVJPEG_SANITIZE")
    endif()
    add_compile_options(-fsanitize=thread -g)
    add_link_options(-fsanitize=thread)
endif()
