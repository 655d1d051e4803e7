# The device simulator. sim/*.cpp form a static library that tests, tools and
# benchmarks link in-process; sim/dll/ packages it as a stand-in for the
# vendor's D2XX library (FTD2XX.dll on Windows, libqvftd2xx.so on Linux),
# which also carries the simulator's socket table for the Bluetooth and
# IrDA links, built into build/<preset>/sim/ so that it is only used when
# chosen.

# sim/<platform>/ holds what a simulator needs on one system only (Linux:
# the stand-in BlueZ service on D-Bus).
file(GLOB QD_SIM_SOURCES CONFIGURE_DEPENDS ${QD_ROOT}/sim/*.cpp ${QD_ROOT}/sim/${QD_PLATFORM}/*.cpp)

# Compiled once: the static library and the stand-in libraries of sim/dll/
# are made of the same objects.
add_library(qdsim_obj OBJECT ${QD_SIM_SOURCES})
qd_target_defaults(qdsim_obj)
target_link_libraries(qdsim_obj PUBLIC ${QD_LINK_LIBS})
add_library(qdsim STATIC $<TARGET_OBJECTS:qdsim_obj>)
qd_target_defaults(qdsim)
target_link_libraries(qdsim PUBLIC qd_os ${QD_LINK_LIBS})

if(QD_SANITIZE AND NOT WIN32)
    add_library(qdsim_test STATIC ${QD_SIM_SOURCES})
    qd_target_defaults(qdsim_test)
    qd_sanitize(qdsim_test)
    target_link_libraries(qdsim_test PUBLIC qd_os_test ${QD_LINK_LIBS})
else()
    add_library(qdsim_test ALIAS qdsim)
endif()

include(${QD_ROOT}/sim/dll/simdll.cmake OPTIONAL)
include(${QD_ROOT}/sim/umockdev_ftdi/ftdi_bed.cmake OPTIONAL)
include(${QD_ROOT}/sim/btdevice/btdevice.cmake)
