# The panel API client and the whitelist address, against the stand-in panel and cloud.
torvane_add_test(tst_panel_api unit torvane_core tst_panel_api.cpp)
target_link_libraries(tst_panel_api PRIVATE torvane_test_panel)
