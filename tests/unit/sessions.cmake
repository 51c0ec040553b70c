# Tests of the session launchers and the small server actions.
torvane_add_test(tst_session_texts unit torvane_core tst_session_texts.cpp)
torvane_add_test(tst_button_row unit torvane_ui tst_button_row.cpp)
torvane_add_test(tst_detached_start unit torvane_ui tst_detached_start.cpp)
