# Benchmarks of the HTTP client and JSON documents.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)

torvane_add_bench(bench_http LIBRARIES torvane_core PkgConfig::CPP_HTTPLIB SMOKE --runs=5)
torvane_add_bench(bench_json LIBRARIES torvane_core SMOKE --reads=2000)
