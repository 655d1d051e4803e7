# The loader's upload: the update run, the link library and the simulated
# device in one process, without the driver.
target_sources(${BENCH} PRIVATE ${QD_UPGRADE_HOOKS} ${QD_LINK_OBJECTS})
target_link_libraries(${BENCH} PRIVATE qd_upgrade qdsim ${QD_SYSTEM_LIBS})
if(NOT WIN32)
    add_test(NAME ${QD_BUILD_NAME}.bench-upgrade COMMAND ${BENCH} --image 4096 --runs 1)
    set_tests_properties(${QD_BUILD_NAME}.bench-upgrade PROPERTIES TIMEOUT 120
                         PASS_REGULAR_EXPRESSION "figure: upload_ratio")
endif()
