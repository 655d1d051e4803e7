# Host-side tools. Every folder tools/<name>/ becomes one program <name>
# built from its *.cpp files (and those of its platform folder,
# tools/<name>/win32 or posix: a program of one system only keeps its
# sources there) into build/<preset>/tools/. A folder that needs
# more (libraries, definitions) adds a tool.cmake beside its sources; it is
# included after the target is made, with TOOL naming the target.
#
# tools/common/ is no program: it is qd_tools_common, what every host
# program shares (binding the driver, files, time, the environment), linked
# into each tool and into the end-to-end host. The build tells it the file
# names of this platform's libraries.

if(WIN32)
    set(QD_DRIVER_FILE ${QD_DRIVER_NAME}.dll)
    set(QD_DRIVER_SYSTEM_NAME ${QD_DRIVER_FILE})
    set(QD_D2XX_FILE FTD2XX.dll)
    set(QD_D2XX_FROM_VENDOR 1)   # installed with the vendor's USB driver
    set(QD_BLE_STANDIN_FILE BluetoothAPIs.dll)
else()
    set(QD_DRIVER_FILE libQuorvaneDrv.so)
    # The system's search takes the soname: libQuorvaneDrv.so itself is only
    # the link for building hosts (the -dev package).
    set(QD_DRIVER_SYSTEM_NAME libQuorvaneDrv.so.${PROJECT_VERSION_MAJOR})
    set(QD_D2XX_FILE libqvftd2xx.so)
    set(QD_D2XX_FROM_VENDOR 0)   # the libftdi backend, built beside the driver
    set(QD_BLE_STANDIN_FILE libqvbluetoothapis.so)
endif()
# Where an installation keeps the simulator libraries, below the prefix
# (cmake/QdInstall.cmake); the Windows builds are not installed.
if(WIN32)
    set(QD_SIM_INSTALL_DIR sim)
else()
    include(GNUInstallDirs)
    set(QD_SIM_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/quorvane/sim)
endif()
file(GLOB QD_TOOLS_COMMON_SOURCES CONFIGURE_DEPENDS ${QD_ROOT}/tools/common/*.cpp)
add_library(qd_tools_common STATIC ${QD_TOOLS_COMMON_SOURCES})
qd_target_defaults(qd_tools_common)
target_link_libraries(qd_tools_common PUBLIC qd_os)
target_compile_definitions(qd_tools_common PUBLIC
    QD_DRIVER_FILE="${QD_DRIVER_FILE}" QD_DRIVER_SYSTEM_NAME="${QD_DRIVER_SYSTEM_NAME}" QD_D2XX_FILE="${QD_D2XX_FILE}" QD_D2XX_FROM_VENDOR=${QD_D2XX_FROM_VENDOR}
    QD_BLE_STANDIN_FILE="${QD_BLE_STANDIN_FILE}" QD_SIM_INSTALL_DIR="${QD_SIM_INSTALL_DIR}")

file(GLOB QD_TOOL_DIRS LIST_DIRECTORIES true CONFIGURE_DEPENDS ${QD_ROOT}/tools/*)
foreach(dir ${QD_TOOL_DIRS})
    if(NOT IS_DIRECTORY ${dir})
        continue()
    endif()
    get_filename_component(TOOL ${dir} NAME)
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/${QD_PLATFORM}/*.cpp)
    if(NOT sources OR TOOL STREQUAL "common")
        continue()
    endif()
    add_executable(${TOOL} ${sources})
    qd_target_defaults(${TOOL})
    target_link_libraries(${TOOL} PRIVATE qd_tools_common qd_os)
    set_target_properties(${TOOL} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
    if(WIN32)
        target_link_options(${TOOL} PRIVATE ${QD_STATIC_RUNTIME})
    endif()
    include(${dir}/tool.cmake OPTIONAL)
endforeach()
