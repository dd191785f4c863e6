# Compiler settings shared by every target of the project.
add_compile_options(-Wall -Wextra -Werror)

if(KORSA_SANITIZE)
    # float-cast-overflow is not part of "undefined": without it a NaN or huge double
    # converted to a register value would pass unnoticed.
    add_compile_options(-fsanitize=address,undefined,float-cast-overflow -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined,float-cast-overflow)
    add_link_options(-fsanitize=address,undefined,float-cast-overflow)
endif()


# ThreadSanitizer for the threaded tests. It cannot be combined with AddressSanitizer.
option(KORSA_TSAN "Build with ThreadSanitizer" OFF)
if(KORSA_TSAN)
    if(KORSA_SANITIZE)
        message(FATAL_ERROR "KORSA_TSAN and KORSA_SANITIZE exclude each other")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# 32-bit ARM: GCC notes every by-value argument whose passing changed in GCC 7.1; nothing
# here links against code built by a compiler that old, so the notes only hide real output.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    add_compile_options(-Wno-psabi)
endif()
