# The loader's portable code (firmware file, update run, arguments, log),
# tested in-process against the simulated device through the link library.
target_link_libraries(${TEST_TARGET} PRIVATE qd_upgrade_test)

# The command line against the in-process simulator: kestrel_simhost runs the
# program's own kestrelMain (Linux builds; the window program has its test
# in tests/kestrel_ui).
if(NOT WIN32 AND TARGET kestrel)
    add_executable(kestrel_simhost ${QD_ROOT}/tests/upgrade/host/kestrel_simhost.cpp ${QD_KESTREL_CLI}
                   ${QD_UPGRADE_HOOKS} ${QD_LINK_TEST_OBJECTS})
    qd_target_defaults(kestrel_simhost)
    qd_sanitize(kestrel_simhost)
    target_link_libraries(kestrel_simhost PRIVATE qd_upgrade_test qdsim_test qd_os_test ${QD_LINK_LIBS})
    foreach(scenario upload relink)
        set(dir ${CMAKE_BINARY_DIR}/kestrel-${scenario})
        file(MAKE_DIRECTORY ${dir})
        add_test(NAME ${QD_BUILD_NAME}.kestrel-${scenario} COMMAND kestrel_simhost ${scenario} ${dir})
        set_tests_properties(${QD_BUILD_NAME}.kestrel-${scenario} PROPERTIES TIMEOUT 120
                             ENVIRONMENT "ALLUSERSPROFILE=${dir}")
    endforeach()
    # The shipped program itself: no transceiver answers, so it says so and
    # exits 1; a bad link key exits 2.
    add_test(NAME ${QD_BUILD_NAME}.kestrel-cli
             COMMAND sh ${QD_ROOT}/tests/upgrade/host/kestrel_cli.sh $<TARGET_FILE:kestrel>)
    set_tests_properties(${QD_BUILD_NAME}.kestrel-cli PROPERTIES TIMEOUT 60
                         ENVIRONMENT "ALLUSERSPROFILE=${CMAKE_BINARY_DIR}/kestrel-cli")
endif()

# The window program's test (Windows builds, once the window-test support of
# tests/ui exists): kestrel_ui drives Kestrel's own window code with the
# simulated transceivers in its process.
function(qd_kestrel_window_test)
    if(WIN32 AND TARGET qd_kestrel_win AND TARGET qd_ui_support)
        add_executable(kestrel_ui ${QD_ROOT}/tests/upgrade/ui/kestrel_ui.cpp ${QD_UPGRADE_HOOKS} ${QD_LINK_OBJECTS})
        qd_target_defaults(kestrel_ui)
        target_link_libraries(kestrel_ui PRIVATE qd_kestrel_win qd_ui_support qdsim ${QD_SYSTEM_LIBS} ${QD_LINK_LIBS})
        target_link_options(kestrel_ui PRIVATE ${QD_STATIC_RUNTIME})
        qd_add_window_test(kestrel kestrel_ui)
    endif()
endfunction()
cmake_language(DEFER CALL qd_kestrel_window_test)
