# Tests of the HTTP client, JSON documents, regular expressions and the cloud frame.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)

torvane_add_test(tst_regex_matcher unit torvane_core tst_regex_matcher.cpp)
torvane_add_test(tst_json_document unit torvane_core tst_json_document.cpp)
torvane_add_test(tst_http_headers unit torvane_core tst_http_headers.cpp)
torvane_add_test(tst_http_client unit torvane_core tst_http_client.cpp net/raw_http_server.cpp)
target_link_libraries(tst_http_client PRIVATE PkgConfig::CPP_HTTPLIB)
torvane_add_test(tst_cloud_api unit torvane_core tst_cloud_api.cpp net/raw_http_server.cpp)
target_link_libraries(tst_cloud_api PRIVATE PkgConfig::CPP_HTTPLIB)
