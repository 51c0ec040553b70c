# The HTTP client, JSON documents, regular expressions and the cloud request frame.
find_package(CURL REQUIRED)
find_package(nlohmann_json REQUIRED)

target_sources(torvane_core PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/core/support/regex_matcher.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/support/json_path.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/support/json_text.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/support/json_document.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/cloud/http_headers.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/cloud/http_client.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/cloud/cloud_api.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/cloud/cloud_actions.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/cloud/cloud_account.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/cloud/password_sealer.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/cloud/sync_stop.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/cloud/cloud_upload.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/cloud/cloud_download.cpp
)
target_link_libraries(torvane_core PUBLIC CURL::libcurl nlohmann_json::nlohmann_json)
