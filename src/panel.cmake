# The panel: signed API requests, the whitelist address, and the panel actions of the server
# windows and the list menu.
target_sources(torvane_core PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/core/panel/panel_api.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/panel/whitelist_ip.cpp
)

target_sources(torvane_ui PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/app/web_page.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/panel/panel_menu_actions.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/panel/panel_window_actions.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/panel/whitelist_ip_fetcher.cpp
)
