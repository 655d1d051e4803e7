# upgrade.cmake - the firmware loader Kestrel.
#
#   Upgrade/*.cpp        the portable loader: firmware file, update run, log,
#                        arguments and link steps (library qd_upgrade), but
#                        link_hooks.cpp, which only the programs carry
#   Upgrade/posix/       the Linux command-line program kestrel
#   Upgrade/win32/       the window program Kestrel.exe
#
# The programs link the link library and the OS layer, never the driver.

file(GLOB QD_UPGRADE_SOURCES CONFIGURE_DEPENDS ${QD_ROOT}/Upgrade/*.cpp)
list(REMOVE_ITEM QD_UPGRADE_SOURCES ${QD_ROOT}/Upgrade/link_hooks.cpp)
set(QD_UPGRADE_HOOKS ${QD_ROOT}/Upgrade/link_hooks.cpp)

add_library(qd_upgrade STATIC ${QD_UPGRADE_SOURCES})
qd_target_defaults(qd_upgrade)
target_link_libraries(qd_upgrade PUBLIC qd_os)

# The same code with the sanitizers, for the tests of the native build.
if(QD_SANITIZE AND NOT WIN32)
    add_library(qd_upgrade_test STATIC ${QD_UPGRADE_SOURCES})
    qd_target_defaults(qd_upgrade_test)
    qd_sanitize(qd_upgrade_test)
    target_link_libraries(qd_upgrade_test PUBLIC qd_os_test)
else()
    add_library(qd_upgrade_test ALIAS qd_upgrade)
endif()

# qd_upgrade_program(target sources...): a loader program: its sources, the
# loader, the program hooks, the link library and the D2XX library.
function(qd_upgrade_program target)
    target_sources(${target} PRIVATE ${ARGN} ${QD_UPGRADE_HOOKS})
    qd_target_defaults(${target})
    target_link_libraries(${target} PRIVATE qd_upgrade)
    qd_link_into(${target})
    target_link_libraries(${target} PRIVATE ${QD_SYSTEM_LIBS})
    if(WIN32)
        target_link_options(${target} PRIVATE ${QD_STATIC_RUNTIME})
    endif()
endfunction()

if(WIN32)
    include(${QD_ROOT}/Upgrade/win32/kestrel.cmake OPTIONAL)
else()
    include(${QD_ROOT}/Upgrade/posix/kestrel.cmake OPTIONAL)
endif()
