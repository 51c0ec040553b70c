# The stand-in BaoTa panel that the panel tests talk to.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
find_package(Qt6 REQUIRED COMPONENTS Core)

add_library(torvane_test_panel STATIC ${CMAKE_CURRENT_LIST_DIR}/test_panel.cpp)
target_include_directories(torvane_test_panel PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(torvane_test_panel PUBLIC Qt6::Core PkgConfig::CPP_HTTPLIB
                      PRIVATE torvane_strict)
