# Window tests of the session launchers and the small server actions.
torvane_add_test(tst_session_actions gui torvane_ui tst_session_actions.cpp)
torvane_add_test(tst_dialog_press gui torvane_ui tst_dialog_press.cpp)
# Both click with the display's one pointer or watch for PuTTY's dialog, as the end-to-end
# login does: they never run side by side.
set_tests_properties(tst_session_actions tst_dialog_press PROPERTIES RESOURCE_LOCK display_pointer)
