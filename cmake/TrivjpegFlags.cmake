# Compile and link settings shared by the library targets.

# The rules for library code: no exceptions, no RTTI, warnings are errors,
# and on ELF platforms nothing is visible unless the source marks it.
function(trivjpeg_library_flags target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Werror
        $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
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
