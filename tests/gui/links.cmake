# The link labels and how overlapping announcement runs reach them.
torvane_add_test(tst_announcement_links gui torvane_ui tst_announcement_links.cpp)
