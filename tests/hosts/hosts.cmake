# Tests that load the shipped driver library the way a host does.
#   <build>.qdhost          qdhost loads the library of this build (under Wine
#                           for the Windows builds), resolves every export and
#                           finds the banner in a log of its own folder
#   <build>.qdhost-exports  the hosts' list of names (tools/common) equals the
#                           export definition
#   <build>.install         (Linux) cmake --install into a temporary DESTDIR;
#                           a C host built with pkg-config's flags for
#                           "quorvane" opens a context and reads a parameter;
#                           the installed qdparams and qdacq find the driver
#   <build>.deb             (Linux) the Debian packages of make deb from this
#                           build, into deb-test/dist; lintian reports no
#                           error
#   <build>.deb-install     (Linux) those packages installed with apt-get in
#                           a throwaway Debian 12 root, used as a user who is
#                           not root, and removed without a trace (skipped
#                           with its reason where the root cannot be made)
#   <build>.dllcheck        (Windows) the DLL exports every name of the
#                           definition, the callback variables as data, and
#                           imports only Windows system DLLs and FTD2XX.dll
#   <build>.docs-warnings   (Linux) the API reference (make docs) with
#                           Doxygen's warnings as errors: every export,
#                           callback, record and constant is documented
# A library the driver imports and that the host must load first (the
# simulator's FTD2XX.dll stand-in) can be named in QD_QDHOST_PRELOAD by the
# fragment that builds it.

if(TARGET qdhost)
    set(qdhost_args)
    foreach(lib ${QD_QDHOST_PRELOAD})
        list(APPEND qdhost_args --preload ${lib})
    endforeach()
    set(qdhost_shared ${CMAKE_CURRENT_BINARY_DIR}/qdhost-shared)
    add_test(NAME ${QD_BUILD_NAME}.qdhost
             COMMAND qdhost ${qdhost_args} --shared-dir ${qdhost_shared} $<TARGET_FILE:QuorvaneDrv>)
    set_tests_properties(${QD_BUILD_NAME}.qdhost PROPERTIES
        SKIP_RETURN_CODE 77 TIMEOUT 300
        FAIL_REGULAR_EXPRESSION "missing export|not cleared|No driver banner|cannot ")

    add_test(NAME ${QD_BUILD_NAME}.qdhost-exports
             COMMAND sh ${QD_ROOT}/tests/hosts/check-export-list.sh
                     ${QD_ROOT}/API/driver/QuorvaneDrv.def ${QD_ROOT}/tools/common/driver_binding.cpp)
    set_tests_properties(${QD_BUILD_NAME}.qdhost-exports PROPERTIES LABELS host)
endif()

if(WIN32)
    set(qd_objdump ${CMAKE_OBJDUMP})
    if(NOT qd_objdump)
        find_program(qd_objdump NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump objdump)
    endif()
    add_test(NAME ${QD_BUILD_NAME}.dllcheck
             COMMAND sh ${QD_ROOT}/scripts/check-dll.sh ${qd_objdump} $<TARGET_FILE:QuorvaneDrv>
                     ${QD_ROOT}/API/driver/QuorvaneDrv.def)
    # Runs the build machine's objdump, not the library: label "host".
    set_tests_properties(${QD_BUILD_NAME}.dllcheck PROPERTIES LABELS host)
endif()

if(NOT WIN32 AND TARGET QuorvaneDrv AND TARGET qdacq AND TARGET qdparams)
    add_test(NAME ${QD_BUILD_NAME}.install
             COMMAND sh ${QD_ROOT}/tests/hosts/check-install.sh ${CMAKE_COMMAND} ${CMAKE_C_COMPILER}
                     ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${CMAKE_CURRENT_BINARY_DIR}/install-test
                     ${QD_ROOT}/tests/hosts/install_host.c)
    set_tests_properties(${QD_BUILD_NAME}.install PROPERTIES TIMEOUT 300)
endif()

if(NOT WIN32 AND TARGET qd_installed)
    set(qd_deb_dist ${CMAKE_CURRENT_BINARY_DIR}/deb-test/dist)
    add_test(NAME ${QD_BUILD_NAME}.deb
             COMMAND sh ${QD_ROOT}/tests/hosts/check-deb.sh ${CMAKE_BINARY_DIR} ${qd_deb_dist})
    add_test(NAME ${QD_BUILD_NAME}.deb-install
             COMMAND sh ${QD_ROOT}/tests/hosts/check-deb-install.sh ${qd_deb_dist}
                     ${QD_ROOT}/tests/hosts/install_host.c ${CMAKE_CURRENT_BINARY_DIR}/deb-test/install)
    # The first run makes the Debian root (scripts/debroot.sh) and fetches
    # the packages' dependencies: minutes; later runs take about 40 s.
    set_tests_properties(${QD_BUILD_NAME}.deb PROPERTIES TIMEOUT 600 FIXTURES_SETUP qd_debs)
    set_tests_properties(${QD_BUILD_NAME}.deb-install PROPERTIES TIMEOUT 1800 FIXTURES_REQUIRED qd_debs
                         SKIP_REGULAR_EXPRESSION "SKIP: ")
endif()

if(NOT WIN32)
    add_test(NAME ${QD_BUILD_NAME}.docs-warnings
             COMMAND sh -c "command -v doxygen >/dev/null || { echo 'SKIP: no doxygen'; exit 77; }
                            { cat API/Doxyfile; echo 'WARN_AS_ERROR = FAIL_ON_WARNINGS';
                              echo 'OUTPUT_DIRECTORY = ${CMAKE_BINARY_DIR}/docs-check'; } | doxygen -"
             WORKING_DIRECTORY ${QD_ROOT})
    set_tests_properties(${QD_BUILD_NAME}.docs-warnings PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120 LABELS host)
endif()
