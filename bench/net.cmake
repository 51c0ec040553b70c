# Benchmarks of the HTTP client and JSON documents.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)

add_executable(bench_http bench_http.cpp)
target_link_libraries(bench_http PRIVATE torvane_core PkgConfig::CPP_HTTPLIB torvane_strict)

add_executable(bench_json bench_json.cpp)
target_link_libraries(bench_json PRIVATE torvane_core torvane_strict)

if(TORVANE_BUILD_TESTS)
    add_test(NAME bench_http_smoke COMMAND bench_http --runs=5)
    set_tests_properties(bench_http_smoke PROPERTIES LABELS bench TIMEOUT 120)
    add_test(NAME bench_json_smoke COMMAND bench_json --reads=2000)
    set_tests_properties(bench_json_smoke PROPERTIES LABELS bench TIMEOUT 120)
endif()
