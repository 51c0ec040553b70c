# The announcements and links: the link labels of the main window, filled from the cloud
# service, and the download-page button.
target_sources(torvane_core PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/core/links/announcement_loader.cpp
)

target_sources(torvane_ui PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/links/announcement_links.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/links/link_label.cpp
)
