# Warnings and Qt's strict string rules for our own code; third-party and generated code
# does not see them. Shared by the main build and the Windows cross build.
option(TORVANE_WERROR "Treat warnings in Torvane's own code as errors (CI turns this on)" OFF)

add_library(torvane_strict INTERFACE)
if(MSVC)
    target_compile_options(torvane_strict INTERFACE /W4 /permissive- /utf-8
                           $<$<BOOL:${TORVANE_WERROR}>:/WX>)
else()
    target_compile_options(torvane_strict INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                           -Wcast-qual -Wformat=2 -Wimplicit-fallthrough
                           $<$<BOOL:${TORVANE_WERROR}>:-Werror>)
endif()
target_compile_definitions(torvane_strict INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING QT_NO_NARROWING_CONVERSIONS_IN_CONNECT QT_NO_KEYWORDS)
