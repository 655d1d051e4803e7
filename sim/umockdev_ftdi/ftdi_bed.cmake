# The emulated FTDI transceiver (Linux): ftdi_bed runs a program in a
# umockdev test bed whose USB device is an FT232R-class chip played at the
# usbfs level, with a simulated Halvex device on its serial side. It needs
# Debian's umockdev (umockdev-wrapper, the preload library) and
# libumockdev-dev; without them it is not built and its tests are not made.
if(WIN32)
    return()
endif()
pkg_check_modules(QD_UMOCKDEV IMPORTED_TARGET umockdev-1.0)
find_program(QD_UMOCKDEV_WRAPPER umockdev-wrapper)
if(NOT QD_UMOCKDEV_FOUND OR NOT QD_UMOCKDEV_WRAPPER)
    message(STATUS "umockdev not found: no emulated FTDI transceiver")
    return()
endif()
add_executable(ftdi_bed
    ${QD_ROOT}/sim/umockdev_ftdi/ftdi_bed.cpp
    ${QD_ROOT}/sim/umockdev_ftdi/ftdi_chip.cpp
    ${QD_ROOT}/sim/umockdev_ftdi/usbfs_chip.cpp)
qd_target_defaults(ftdi_bed)
target_link_libraries(ftdi_bed PRIVATE qdsim PkgConfig::QD_UMOCKDEV ${QD_SYSTEM_LIBS})
set_target_properties(ftdi_bed PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sim)
