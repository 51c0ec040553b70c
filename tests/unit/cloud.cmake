# The password sealing and our cloud service, tested against the real torvane-cloud.
torvane_add_test(tst_password_sealer unit torvane_core tst_password_sealer.cpp)
torvane_add_test(tst_cloud_service unit torvane_core tst_cloud_service.cpp)
target_link_libraries(tst_cloud_service PRIVATE PkgConfig::CPP_HTTPLIB)
torvane_use_cloud_service(tst_cloud_service)
torvane_add_test(tst_cloud_merge unit torvane_core tst_cloud_merge.cpp)
