# The hardening Debian expects of a packaged program, for every optimised build on Linux (the
# package is made from such a build): checked string and memory calls (_FORTIFY_SOURCE needs
# optimisation, so Debug builds go without it), stack protection, and a read-only relocation
# table resolved at start (RELRO with BIND_NOW). Position-independent executables are the
# compiler's default on Debian.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set(optimised_configs "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
    add_compile_options(-fstack-protector-strong -fstack-clash-protection
                        "$<${optimised_configs}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|i.86")
        add_compile_options(-fcf-protection)
    endif()
    add_link_options("LINKER:-z,relro,-z,now")
endif()
