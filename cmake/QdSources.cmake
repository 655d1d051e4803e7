# Targets of the tree. Sources are collected by folder, so a new file in a
# folder joins its target without an edit here:
#   os/*.cpp, os/<platform>/*.cpp          operating-system layer
#   API/driver/entry/<platform>/*.cpp      the driver library's entry glue
#                                          (DllMain, ctor/dtor), in the
#                                          shared library only
#   API/driver/**/*.cpp                    portable driver core, with the
#                                          platform folders below it
#                                          (API/driver/ui/win32, .../posix)
#                                          of this build only
#   link/*.cpp, link/<platform>/*.cpp      link library (driver and loader)
# Areas with targets of their own add a fragment: link/link.cmake,
# API/driver/ui/docs/docs.cmake (documents shipped beside the DLLs),
# sim/sim.cmake, tools/tools.cmake, tests/tests.cmake, bench/bench.cmake,
# Upgrade/upgrade.cmake; cmake/QdInstall.cmake installs the Linux build.

set(QD_ROOT ${CMAKE_SOURCE_DIR})

# Debian keeps libraries in a folder of their architecture (lib/x86_64-linux-gnu)
# below /usr/local as below /usr, and the packages (make deb) install this
# build below /usr; GNUInstallDirs would choose that folder for /usr only,
# and plain lib (which it left in the caches of older trees) otherwise. A
# folder given with -DCMAKE_INSTALL_LIBDIR stays.
if(NOT WIN32 AND CMAKE_LIBRARY_ARCHITECTURE AND
   (NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR} OR
    (DEFINED CACHE{_GNUInstallDirs_LAST_CMAKE_INSTALL_PREFIX} AND CMAKE_INSTALL_LIBDIR STREQUAL "lib")))
    set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries" FORCE)
endif()

file(GLOB QD_OS_SOURCES CONFIGURE_DEPENDS
     ${QD_ROOT}/os/*.cpp ${QD_ROOT}/os/${QD_PLATFORM}/*.cpp)
file(GLOB QD_ENTRY_SOURCES CONFIGURE_DEPENDS ${QD_ROOT}/API/driver/entry/${QD_PLATFORM}/*.cpp)
file(GLOB_RECURSE QD_CORE_SOURCES CONFIGURE_DEPENDS ${QD_ROOT}/API/driver/*.cpp)
if(WIN32)
    set(QD_OTHER_PLATFORM posix)
else()
    set(QD_OTHER_PLATFORM win32)
endif()
list(FILTER QD_CORE_SOURCES EXCLUDE REGEX "/API/driver/(.*/)?${QD_OTHER_PLATFORM}/|/API/driver/entry/")
file(GLOB QD_LINK_SOURCES CONFIGURE_DEPENDS
     ${QD_ROOT}/link/*.cpp ${QD_ROOT}/link/${QD_PLATFORM}/*.cpp)

if(WIN32)
    set(QD_SYSTEM_LIBS ws2_32 setupapi cfgmgr32 advapi32 user32 gdi32 comctl32 comdlg32 shell32)
else()
    find_package(Threads REQUIRED)
    set(QD_SYSTEM_LIBS Threads::Threads ${CMAKE_DL_LIBS})
endif()

# What the link library needs of the system besides QD_SYSTEM_LIBS: on Linux
# BlueZ's libbluetooth (RFCOMM sockets, the HCI inquiry, SDP) and libdbus
# (the Bluetooth LE link is a BlueZ client on the system bus); Winsock and
# the Bluetooth LE library are the system's on Windows.
if(WIN32)
    set(QD_LINK_LIBS "")
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(QD_BLUEZ REQUIRED IMPORTED_TARGET bluez)
    pkg_check_modules(QD_DBUS REQUIRED IMPORTED_TARGET dbus-1)
    set(QD_LINK_LIBS PkgConfig::QD_BLUEZ PkgConfig::QD_DBUS)
endif()

set(QD_SAN_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)

# Common settings of every target built from our sources. link/<platform>
# is on the include path for the few headers that exist once per platform
# under one name (d2xx_abi.h).
function(qd_target_defaults target)
    target_include_directories(${target} PUBLIC ${QD_ROOT} ${QD_ROOT}/API ${QD_ROOT}/link/${QD_PLATFORM})
    target_compile_options(${target} PRIVATE ${QD_WARNINGS})
    if(NOT WIN32)
        target_compile_options(${target} PRIVATE -fvisibility=hidden)
    endif()
endfunction()

function(qd_sanitize target)
    if(QD_SANITIZE AND NOT WIN32)
        target_compile_options(${target} PUBLIC ${QD_SAN_FLAGS})
        target_link_options(${target} PUBLIC -fsanitize=address,undefined)
    endif()
endfunction()

# The tsan preset compiles every target under ThreadSanitizer and builds
# the few that its tests run (cmake/QdTsan.cmake).
if(QD_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# Operating-system layer, shared by the driver, the loader, the simulator and
# the tools.
add_library(qd_os STATIC ${QD_OS_SOURCES})
qd_target_defaults(qd_os)
target_link_libraries(qd_os PUBLIC ${QD_SYSTEM_LIBS})

# The link library as objects, compiled once for every program that carries
# it (the driver, the loader, the tools, the benchmarks): QD_LINK_OBJECTS.
# On the native build QD_LINK_TEST_OBJECTS are the same sources compiled a
# second time with the sanitizers, for the tests; elsewhere the same objects.
add_library(qd_link_obj OBJECT ${QD_LINK_SOURCES})
qd_target_defaults(qd_link_obj)
target_link_libraries(qd_link_obj PUBLIC ${QD_LINK_LIBS})
set(QD_LINK_OBJECTS $<TARGET_OBJECTS:qd_link_obj>)
set(QD_LINK_TEST_OBJECTS ${QD_LINK_OBJECTS})

# The driver core as objects: the shipped library is made from them and the
# link objects.
add_library(qd_core_obj OBJECT ${QD_CORE_SOURCES})
qd_target_defaults(qd_core_obj)
target_compile_definitions(qd_core_obj PUBLIC QD_BUILDING_DRIVER)
target_link_libraries(qd_core_obj PUBLIC ${QD_LINK_LIBS})

# The driver core as a static library for tests and fuzzers. On the native
# build it is compiled a second time with the sanitizers.
if(QD_SANITIZE AND NOT WIN32)
    add_library(qd_os_test STATIC ${QD_OS_SOURCES})
    qd_target_defaults(qd_os_test)
    qd_sanitize(qd_os_test)
    target_link_libraries(qd_os_test PUBLIC ${QD_SYSTEM_LIBS})
    add_library(qd_link_test_obj OBJECT ${QD_LINK_SOURCES})
    qd_target_defaults(qd_link_test_obj)
    qd_sanitize(qd_link_test_obj)
    target_link_libraries(qd_link_test_obj PUBLIC ${QD_LINK_LIBS})
    set(QD_LINK_TEST_OBJECTS $<TARGET_OBJECTS:qd_link_test_obj>)
    add_library(qd_core_test STATIC ${QD_CORE_SOURCES} ${QD_LINK_TEST_OBJECTS})
    qd_target_defaults(qd_core_test)
    qd_sanitize(qd_core_test)
    target_compile_definitions(qd_core_test PUBLIC QD_BUILDING_DRIVER)
    target_link_libraries(qd_core_test PUBLIC qd_os_test ${QD_LINK_LIBS})
else()
    add_library(qd_os_test ALIAS qd_os)
    add_library(qd_core_test STATIC $<TARGET_OBJECTS:qd_core_obj> ${QD_LINK_OBJECTS})
    qd_target_defaults(qd_core_test)
    target_compile_definitions(qd_core_test PUBLIC QD_BUILDING_DRIVER)
    target_link_libraries(qd_core_test PUBLIC qd_os ${QD_LINK_LIBS})
endif()

# Link backends (D2XX import library on Windows, libftdi backend on Linux).
include(${QD_ROOT}/link/link.cmake OPTIONAL)

# The shipped driver library.
if(WIN32)
    if(QD_BITS EQUAL 32)
        set(QD_DRIVER_NAME QuorvaneDrv)
    else()
        set(QD_DRIVER_NAME QuorvaneDrv64)
    endif()
    add_library(QuorvaneDrv SHARED ${QD_ENTRY_SOURCES} ${QD_ROOT}/API/driver/QuorvaneDrv.def)
    set_target_properties(QuorvaneDrv PROPERTIES OUTPUT_NAME ${QD_DRIVER_NAME} PREFIX "")
    target_link_options(QuorvaneDrv PRIVATE ${QD_STATIC_RUNTIME} -Wl,--enable-stdcall-fixup)
else()
    add_library(QuorvaneDrv SHARED ${QD_ENTRY_SOURCES})
    # libQuorvaneDrv.so -> libQuorvaneDrv.so.5 (the soname) -> .so.5.4.5
    set_target_properties(QuorvaneDrv PROPERTIES OUTPUT_NAME QuorvaneDrv
        VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    target_link_options(QuorvaneDrv PRIVATE -Wl,--no-undefined)
endif()
qd_target_defaults(QuorvaneDrv)
target_sources(QuorvaneDrv PRIVATE ${QD_LINK_OBJECTS})
target_link_libraries(QuorvaneDrv PRIVATE qd_core_obj qd_os ${QD_LINK_LIBS} ${QD_SYSTEM_LIBS})
if(TARGET qd_d2xx)
    target_link_libraries(QuorvaneDrv PRIVATE qd_d2xx)
endif()

include(${QD_ROOT}/API/driver/ui/docs/docs.cmake)
include(${QD_ROOT}/sim/sim.cmake OPTIONAL)
include(${QD_ROOT}/Upgrade/upgrade.cmake OPTIONAL)
include(${QD_ROOT}/tools/tools.cmake OPTIONAL)
include(${QD_ROOT}/cmake/QdInstall.cmake)
if(QD_TSAN)
    include(${QD_ROOT}/cmake/QdTsan.cmake)
endif()
if(QD_TESTS)
    enable_testing()
    include(${QD_ROOT}/tests/tests.cmake OPTIONAL)
    include(${QD_ROOT}/bench/bench.cmake OPTIONAL)
endif()
