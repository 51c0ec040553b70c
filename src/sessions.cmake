# Session launchers, dialog pressing and the small server actions.
target_sources(torvane_core PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/core/remote/rdp_file.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/remote/server_diagnostics.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/remote/session_commands.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/remote/session_fields.cpp
)

target_sources(torvane_ui PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/remote/dialog_press_watch.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/remote/rdp_launcher.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/remote/session_actions.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/remote/ssh_launcher.cpp
)

# The platform layer: one implementation per window system, chosen here.
if(WIN32)
    target_sources(torvane_ui PRIVATE
        ${CMAKE_CURRENT_SOURCE_DIR}/platform/windows/dialog_auto_clicker_windows.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/platform/windows/platform_windows.cpp
    )
else()
    find_package(X11 REQUIRED)
    target_sources(torvane_ui PRIVATE
        ${CMAKE_CURRENT_SOURCE_DIR}/platform/x11/button_row.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/platform/x11/detached_start.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/platform/x11/dialog_auto_clicker_x11.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/platform/x11/platform_x11.cpp
    )
    target_link_libraries(torvane_ui PRIVATE X11::X11 X11::Xtst)
endif()
