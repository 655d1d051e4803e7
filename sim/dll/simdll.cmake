# simdll.cmake - the simulated transceivers packaged as a stand-in for the
# vendor's D2XX library, and the host that proves a program can put it under
# the driver.
#
#   Windows: build/<preset>/sim/FTD2XX.dll exports the FT_* functions by the
#            same ordinals as the vendor library (from link/d2xx/FTD2XX.def)
#            and the ftsim* control functions by name, among them
#            ftsimSocketApi, the socket table the driver's link library
#            takes from its D2XX library when that is the simulator.
#   Linux:   build/native/sim/libqvftd2xx.so has the SONAME of the libftdi
#            backend (libqvftd2xx.so).
#
# Both sit in a folder of their own, so nothing uses them unless chosen: a
# host loads the simulator first (Windows: LoadLibrary of the full path;
# Linux: dlopen with RTLD_GLOBAL), then the driver; the driver's dependency
# on FTD2XX.dll / libqvftd2xx.so is then met by the module already loaded.

set(QD_SIMDLL_DIR ${CMAKE_BINARY_DIR}/sim)
set(QD_FTSIM_CONTROL
    ftsimReset ftsimAdd ftsimRemove ftsimSetDescription ftsimSetOpenedElsewhere
    ftsimSetModemStatus ftsimSetCtsDelayUs ftsimSetFaults ftsimSetFaultStatus
    ftsimSetWriteLimit ftsimSetQueueStatusResult ftsimSetListFault ftsimUnplug
    ftsimReplug ftsimAttachPeer ftsimAttachDevice ftsimAttachNewDevice ftsimDevice ftsimSetLoopback ftsimPushBytes ftsimAddReply
    ftsimTakeWritten ftsimGetState ftsimCallCount ftsimResetCallCounts
    ftsimAttachNewDeviceEx ftsimSignalValue ftsimDeviceSetFault ftsimDeviceClearFaults
    ftsimDeviceDropData ftsimDeviceSilence ftsimDeviceSetLinkUp ftsimDeviceInjectBytes
    ftsimDeviceSendEvent ftsimDeviceSetSignalState ftsimDeviceRecordSamples
    ftsimDeviceRecordCount ftsimDeviceState ftsimDevicePowerCycle
    ftsimAddBluetooth ftsimAddInquiryResults ftsimSetInquiryFault ftsimSetConnectFault ftsimAddIrda
    ftsimSetIasAnswer ftsimDropConnection ftsimOpenSockets ftsimSocketApi
    ftsimDeviceButton ftsimDeviceArtifact ftsimDeviceSetState
    ftsimAddBle ftsimBleSetFaults ftsimBleSetPath ftsimBleSetDeviceBuffer ftsimBleSendFlow ftsimBleNotify
    ftsimBleGetState ftsimBleAutoPump ftsimBlePump ftsimBluezStart ftsimBluezStop
    ftsimSetInquiryResultFault ftsimBluezForge)
# The GATT functions and the device list of the Bluetooth LE stand-in
# (link/ble_gatt.h), with the argument bytes of their 32-bit stdcall names.
set(QD_BLE_STANDIN_EXPORTS
    BluetoothGATTGetServices@20 BluetoothGATTGetCharacteristics@24 BluetoothGATTGetDescriptors@24
    BluetoothGATTGetCharacteristicValue@24 BluetoothGATTGetDescriptorValue@24
    BluetoothGATTSetCharacteristicValue@24 BluetoothGATTSetDescriptorValue@16 BluetoothGATTRegisterEvent@28
    BluetoothGATTUnregisterEvent@8 QvBleListBegin@4 QvBleListPath@16 QvBleListName@16 QvBleListEnd@4
    QvBleOpenDevice@8 QvBleCloseDevice@4)

add_library(qd_ftd2xx_sim SHARED $<TARGET_OBJECTS:qdsim_obj>)
qd_target_defaults(qd_ftd2xx_sim)
target_link_libraries(qd_ftd2xx_sim PRIVATE qd_os ${QD_LINK_LIBS})
set_target_properties(qd_ftd2xx_sim PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${QD_SIMDLL_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${QD_SIMDLL_DIR}
    ARCHIVE_OUTPUT_DIRECTORY ${QD_SIMDLL_DIR})

if(WIN32)
    # Export list: the vendor ordinals, by name too (no NONAME), and the
    # control functions from ordinal 1001 on, clear of every number the
    # vendor library uses. --kill-at drops the 32-bit stdcall decoration from
    # the exported names.
    string(REPLACE " NONAME" "" qd_sim_def "${QD_D2XX_DEF_TEXT}")
    set(qd_ordinal 1001)
    foreach(fn ${QD_FTSIM_CONTROL})
        string(APPEND qd_sim_def "    ${fn} @${qd_ordinal}\n")
        math(EXPR qd_ordinal "${qd_ordinal} + 1")
    endforeach()
    # The Bluetooth LE stand-in's functions from ordinal 2001 on, and
    # BluetoothAPIs.dll, which forwards them by name: the library a host
    # loads (by its full path) so that the driver's load of BluetoothAPIs.dll
    # finds the simulator.
    set(qd_ordinal 2001)
    set(qd_forward_def "LIBRARY BluetoothAPIs.dll\nEXPORTS\n")
    foreach(fn ${QD_BLE_STANDIN_EXPORTS})
        string(REGEX REPLACE "@[0-9]+$" "" name ${fn})
        if(QD_BITS EQUAL 64)
            set(fn ${name})
        endif()
        string(APPEND qd_sim_def "    ${fn} @${qd_ordinal}\n")
        string(APPEND qd_forward_def "    ${name} = FTD2XX.${name}\n")
        math(EXPR qd_ordinal "${qd_ordinal} + 1")
    endforeach()
    set(QD_SIMDLL_DEF ${CMAKE_BINARY_DIR}/sim/FTD2XX_sim.def)
    file(GENERATE OUTPUT ${QD_SIMDLL_DEF} CONTENT "${qd_sim_def}")
    target_sources(qd_ftd2xx_sim PRIVATE ${QD_SIMDLL_DEF})
    set_target_properties(qd_ftd2xx_sim PROPERTIES OUTPUT_NAME FTD2XX PREFIX "" IMPORT_PREFIX "lib")
    target_link_options(qd_ftd2xx_sim PRIVATE ${QD_STATIC_RUNTIME} -Wl,--kill-at)
    set(QD_BLEAPIS_DEF ${CMAKE_BINARY_DIR}/sim/BluetoothAPIs_sim.def)
    file(GENERATE OUTPUT ${QD_BLEAPIS_DEF} CONTENT "${qd_forward_def}")
    add_library(qd_bleapis_sim SHARED ${QD_ROOT}/sim/dll/bleapis/bleapis.c ${QD_BLEAPIS_DEF})
    set_target_properties(qd_bleapis_sim PROPERTIES OUTPUT_NAME BluetoothAPIs PREFIX "" IMPORT_PREFIX "lib")
    target_link_options(qd_bleapis_sim PRIVATE ${QD_STATIC_RUNTIME})
    # The driver imports FTD2XX.dll, which the test machines lack: hosts that
    # load the driver in tests load the simulator first (tests/hosts).
    set(QD_QDHOST_PRELOAD $<TARGET_FILE:qd_ftd2xx_sim>)
else()
    set_target_properties(qd_ftd2xx_sim PROPERTIES OUTPUT_NAME qvftd2xx)
    target_link_options(qd_ftd2xx_sim PRIVATE -Wl,--no-undefined)
    # libqvbluetoothapis.so: the counterpart of BluetoothAPIs.dll, a library
    # of no code of its own that needs the simulator library; the driver uses
    # the GATT functions found through it when a host has loaded it.
    add_library(qd_bleapis_sim SHARED ${QD_ROOT}/sim/dll/bleapis/bleapis.c)
    set_target_properties(qd_bleapis_sim PROPERTIES OUTPUT_NAME qvbluetoothapis BUILD_RPATH "$ORIGIN")
    target_link_libraries(qd_bleapis_sim PRIVATE qd_ftd2xx_sim)
    target_link_options(qd_bleapis_sim PRIVATE -Wl,--no-as-needed)
endif()
set_target_properties(qd_bleapis_sim PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${QD_SIMDLL_DIR} LIBRARY_OUTPUT_DIRECTORY ${QD_SIMDLL_DIR}
    ARCHIVE_OUTPUT_DIRECTORY ${QD_SIMDLL_DIR})

# The probe: the driver core (with the link library) in a shared library of
# its own that imports the D2XX library the way the driver does, plus one
# exported function that runs a device-information exchange over USB.
add_library(qd_linkprobe SHARED ${QD_ROOT}/sim/dll/host/probe.cpp)
qd_target_defaults(qd_linkprobe)
target_sources(qd_linkprobe PRIVATE ${QD_LINK_OBJECTS})
target_link_libraries(qd_linkprobe PRIVATE qd_core_obj qd_os qd_d2xx ${QD_SYSTEM_LIBS})
set_target_properties(qd_linkprobe PROPERTIES PREFIX "" OUTPUT_NAME qdlinkprobe
    RUNTIME_OUTPUT_DIRECTORY ${QD_SIMDLL_DIR}/probe LIBRARY_OUTPUT_DIRECTORY ${QD_SIMDLL_DIR}/probe)

file(GLOB QD_SIMHOST_SOURCES CONFIGURE_DEPENDS
     ${QD_ROOT}/sim/dll/host/simhost.cpp ${QD_ROOT}/sim/dll/host/${QD_PLATFORM}/*.cpp)
add_executable(qd_simhost ${QD_SIMHOST_SOURCES})
qd_target_defaults(qd_simhost)
target_link_libraries(qd_simhost PRIVATE ${CMAKE_DL_LIBS})
if(WIN32)
    target_link_options(qd_linkprobe PRIVATE ${QD_STATIC_RUNTIME})
    target_link_options(qd_simhost PRIVATE ${QD_STATIC_RUNTIME})
else()
    target_link_options(qd_linkprobe PRIVATE -Wl,--no-undefined)
endif()

function(qd_simdll_tests)
    if(QD_TESTS)
        add_test(NAME ${QD_BUILD_NAME}.simdll
                 COMMAND qd_simhost $<TARGET_FILE:qd_ftd2xx_sim> $<TARGET_FILE:QuorvaneDrv>
                         $<TARGET_FILE:qd_linkprobe>)
        # The driver writes its log below ALLUSERSPROFILE: keep it in the build.
        set_tests_properties(${QD_BUILD_NAME}.simdll PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
                             ENVIRONMENT "ALLUSERSPROFILE=${CMAKE_BINARY_DIR}/simhost-data")
        file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/simhost-data)
        # Without the simulator: Linux has the libftdi backend, which must
        # load and fail promptly on an absent transceiver; the Windows test
        # prefix has no FTD2XX.dll, so the driver must refuse to load.
        if(WIN32)
            set(qd_expect --expect-no-load)
        else()
            set(qd_expect --expect-load)
        endif()
        add_test(NAME ${QD_BUILD_NAME}.nosim
                 COMMAND qd_simhost --without-sim ${qd_expect} $<TARGET_FILE:QuorvaneDrv> $<TARGET_FILE:qd_linkprobe>)
        set_tests_properties(${QD_BUILD_NAME}.nosim PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
                             ENVIRONMENT "ALLUSERSPROFILE=${CMAKE_BINARY_DIR}/simhost-data")
    endif()
endfunction()
cmake_language(DEFER CALL qd_simdll_tests)
