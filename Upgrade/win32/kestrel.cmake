# Kestrel.exe, the window program: the 32-bit build makes the deliverable,
# the 64-bit build the same program beside it. The window's code is the
# library qd_kestrel_win, so that the window test (tests/kestrel_ui) drives
# the very same code; kestrel.htm goes beside the program.
enable_language(RC)
file(GLOB QD_KESTREL_WIN_SOURCES CONFIGURE_DEPENDS ${QD_ROOT}/Upgrade/win32/kestrel_*.cpp)
add_library(qd_kestrel_win STATIC ${QD_KESTREL_WIN_SOURCES})
qd_target_defaults(qd_kestrel_win)
target_link_libraries(qd_kestrel_win PUBLIC qd_upgrade qd_os user32 gdi32 comctl32 comdlg32 shell32)

add_executable(Kestrel WIN32 ${QD_ROOT}/Upgrade/win32/main.cpp ${QD_ROOT}/Upgrade/win32/kestrel.rc)
qd_upgrade_program(Kestrel)
target_link_libraries(Kestrel PRIVATE qd_kestrel_win)
set_property(SOURCE ${QD_ROOT}/Upgrade/win32/kestrel.rc APPEND PROPERTY OBJECT_DEPENDS
             ${QD_ROOT}/Upgrade/win32/kestrel.manifest)
add_custom_command(TARGET Kestrel POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QD_ROOT}/Upgrade/win32/kestrel.htm
            $<TARGET_FILE_DIR:Kestrel>/kestrel.htm)

if(QD_TESTS)
    add_test(NAME ${QD_BUILD_NAME}.kestrel-exe
             COMMAND sh ${QD_ROOT}/tests/upgrade/host/check-kestrel-exe.sh ${QD_OBJDUMP} $<TARGET_FILE:Kestrel>)
    add_test(NAME ${QD_BUILD_NAME}.kestrel-d2ximport
             COMMAND sh ${QD_ROOT}/scripts/check-d2xx-import.sh ${QD_OBJDUMP} $<TARGET_FILE:Kestrel>)
    set_tests_properties(${QD_BUILD_NAME}.kestrel-exe ${QD_BUILD_NAME}.kestrel-d2ximport PROPERTIES LABELS host)
endif()
