# What the Windows build takes from the Windows kit (TORVANE_WINDOWS_KIT, see
# cmake/mingw-w64.cmake) and from Debian: the same targets the Linux build finds as packages.
if(NOT TORVANE_WINDOWS_KIT)
    message(FATAL_ERROR "The Windows build needs -DTORVANE_WINDOWS_KIT=FOLDER "
                        "(scripts/windows-kit FOLDER puts the kit there)")
endif()

# The program's resource script (UTF-8) and SQLite's C source.
enable_language(RC)
string(APPEND CMAKE_RC_FLAGS " -c 65001")
enable_language(C)

# SQLite: the kit's amalgamation, built here as a static library.
add_library(torvane_sqlite3 STATIC ${TORVANE_WINDOWS_KIT}/sqlite/sqlite3.c)
target_include_directories(torvane_sqlite3 SYSTEM PUBLIC ${TORVANE_WINDOWS_KIT}/sqlite)
add_library(SQLite::SQLite3 ALIAS torvane_sqlite3)

# nlohmann-json is header-only: Debian's headers, without the rest of the host's include
# folder, which must never meet the Windows compiler.
set(torvane_json_include ${CMAKE_BINARY_DIR}/json-include)
file(COPY /usr/include/nlohmann DESTINATION ${torvane_json_include})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${torvane_json_include})

# libcurl: static, with Schannel, which needs the security support interface beside the
# libraries the kit's target names.
find_package(CURL CONFIG REQUIRED)
target_link_libraries(CURL::libcurl INTERFACE secur32)

# The compiler's runtime DLLs and Qt's, which the programs need beside them (or on WINEPATH).
set(TORVANE_WINDOWS_DLL_FOLDERS ${TORVANE_WINDOWS_KIT}/qt/bin ${TORVANE_WINDOWS_KIT}/runtime)
set(TORVANE_WINDOWS_QT_PLUGINS ${TORVANE_WINDOWS_KIT}/qt/plugins)
