# The announcement rows of the link labels.
torvane_add_test(tst_announcement_loader unit torvane_core tst_announcement_loader.cpp)
