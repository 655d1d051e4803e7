# Window tests (Windows builds only). The driver's and the loader's windows
# are driven by test programs under Wine on a virtual X display:
#
#   tests/ui/support/      qd_ui_support: user actions as window messages,
#                          the dialog watcher, screenshots as PNG files
#                          (uitest.h)
#   tests/ui/<name>/       one GoogleTest program test_<name> per folder,
#                          linked like the other test programs (driver core,
#                          in-process simulator, tests/support) and with
#                          qd_ui_support; ctest runs it as <build>.ui-<name>
#
# A program built elsewhere (the loader's) becomes a window test with
#   qd_add_window_test(<name> <target>)
# QD_UI_BRIEF_<name> below names, as a GoogleTest filter, the cases the
# 32-bit test machine runs under full emulation, where a whole window test
# program takes a quarter of an hour (tests/support/main.cpp).
# Each test runs through scripts/xvfb-run.sh (its own Xvfb on a free
# display) and scripts/wine-run.sh with a Wine server of its own, alone (no
# other test runs beside it in the same Wine prefix); it carries the label
# "window".
# Screenshots go to build/<preset>/ui-shots/ (the tests take the folder
# from their own program's place: uitest::programFolder()).

if(NOT WIN32)
    return()
endif()

file(GLOB qd_ui_support_sources CONFIGURE_DEPENDS ${QD_ROOT}/tests/ui/support/*.cpp)
add_library(qd_ui_support STATIC ${qd_ui_support_sources})
qd_target_defaults(qd_ui_support)
target_link_libraries(qd_ui_support PUBLIC user32 gdi32 comctl32)

set(QD_UI_BRIEF_devwindow "DevWindow.ParameterPagesEditAndRefuse:DevWindow.CapPageSitesAndDuplicates:DevWindow.TestMeasurementShowsReadingsAndClosesOnceStopped:DevWindow.StatusPageWhileTheHostMeasures")
# The recorder program's refusals are the same code in both bitnesses.
set(QD_UI_BRIEF_dist "RecorderProgram.SimulateOpensTheSessionPageAndClosesCleanly:SdkExample.*")

function(qd_add_window_test name target)
    set(environment QD_WINE_WINDOWS=1)
    if(DEFINED QD_UI_BRIEF_${name})
        list(APPEND environment "QD_UI_BRIEF_FILTER=${QD_UI_BRIEF_${name}}")
    endif()
    add_test(NAME ${QD_BUILD_NAME}.ui-${name}
             COMMAND sh ${QD_ROOT}/scripts/xvfb-run.sh sh ${QD_ROOT}/scripts/wine-run.sh $<TARGET_FILE:${target}>)
    set_tests_properties(${QD_BUILD_NAME}.ui-${name} PROPERTIES
        SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS window RUN_SERIAL TRUE ENVIRONMENT "${environment}")
endfunction()

file(GLOB qd_ui_dirs LIST_DIRECTORIES true CONFIGURE_DEPENDS ${QD_ROOT}/tests/ui/*)
foreach(dir ${qd_ui_dirs})
    get_filename_component(name ${dir} NAME)
    if(NOT IS_DIRECTORY ${dir} OR name STREQUAL "support")
        continue()
    endif()
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    if(NOT sources)
        continue()
    endif()
    add_executable(test_${name} ${sources})
    qd_target_defaults(test_${name})
    target_compile_options(test_${name} PRIVATE ${QD_TEST_CODE_OPTIONS})
    target_link_libraries(test_${name} PRIVATE qd_test_support qd_ui_support)
    target_link_options(test_${name} PRIVATE ${QD_TEST_LINK_OPTIONS})
    qd_add_window_test(${name} test_${name})
    # A folder may add sources or settings of its own (TEST_TARGET names
    # its program).
    set(TEST_TARGET test_${name})
    include(${dir}/group.cmake OPTIONAL)
endforeach()
