# link.cmake - the D2XX library behind the USB link, as target qd_d2xx, and
# what a program needs to carry the link library.
#
#   Windows: qd_d2xx is the import library of FTD2XX.dll, made at build time
#            from link/d2xx/FTD2XX.def with the toolchain's dlltool. The
#            imports go by ordinal (NONAME), the way the vendor numbers them.
#   Linux:   qd_d2xx is libqvftd2xx.so (SONAME libqvftd2xx.so), the same
#            functions with D2XX behaviour over libftdi (link/ftdi/).
#
# The link sources (QD_LINK_SOURCES: link/*.cpp and link/<platform>/*.cpp)
# are compiled once, into the objects QD_LINK_OBJECTS (cmake/QdSources.cmake),
# which every program that carries the link library links; each such
# program supplies its own linkBrokenHook (the driver's is its link-lost
# note, the firmware loader raises its own event) and points the link log
# hook (linkSetLogHook) at its own log.
# qd_link_into(target) adds the link objects and qd_d2xx to a program.

function(qd_link_into target)
    target_sources(${target} PRIVATE ${QD_LINK_OBJECTS})
    target_link_libraries(${target} PRIVATE qd_d2xx qd_os ${QD_LINK_LIBS})
endfunction()

if(WIN32)
    # The definition file names the 32-bit stdcall symbols (FT_Close@4); the
    # 64-bit build has no decoration, so it gets a stripped copy.
    set(QD_D2XX_DEF_SOURCE ${QD_ROOT}/link/d2xx/FTD2XX.def)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QD_D2XX_DEF_SOURCE})
    file(READ ${QD_D2XX_DEF_SOURCE} qd_d2xx_def)
    if(QD_BITS EQUAL 64)
        string(REGEX REPLACE "@[0-9]+ @" " @" qd_d2xx_def "${qd_d2xx_def}")
    endif()
    set(QD_D2XX_DEF ${CMAKE_BINARY_DIR}/link/FTD2XX.def)
    file(GENERATE OUTPUT ${QD_D2XX_DEF} CONTENT "${qd_d2xx_def}")
    # The simulator's FTD2XX.dll exports the same ordinals (sim/dll/simdll.cmake).
    set(QD_D2XX_DEF_TEXT "${qd_d2xx_def}")

    if(NOT CMAKE_DLLTOOL)
        message(FATAL_ERROR "the toolchain names no dlltool (CMAKE_DLLTOOL)")
    endif()
    set(QD_D2XX_IMPLIB ${CMAKE_BINARY_DIR}/link/libftd2xx_ordinal.a)
    add_custom_command(OUTPUT ${QD_D2XX_IMPLIB}
        COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${QD_D2XX_DEF} -l ${QD_D2XX_IMPLIB}
        DEPENDS ${QD_D2XX_DEF} ${QD_D2XX_DEF_SOURCE}
        COMMENT "Import library of FTD2XX.dll (by ordinal)"
        VERBATIM)
    add_custom_target(qd_d2xx_implib DEPENDS ${QD_D2XX_IMPLIB})
    add_library(qd_d2xx INTERFACE)
    target_link_libraries(qd_d2xx INTERFACE ${QD_D2XX_IMPLIB})
    add_dependencies(qd_d2xx qd_d2xx_implib)

    # objdump of this toolchain, for the import check.
    string(REGEX REPLACE "dlltool$" "objdump" qd_objdump_guess "${CMAKE_DLLTOOL}")
    find_program(QD_OBJDUMP NAMES ${qd_objdump_guess} objdump)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(QD_LIBFTDI1 REQUIRED IMPORTED_TARGET libftdi1)
    add_library(qd_d2xx SHARED ${QD_ROOT}/link/ftdi/ftdi_d2xx.cpp ${QD_ROOT}/link/ftdi/ftdi_core.cpp)
    set_target_properties(qd_d2xx PROPERTIES OUTPUT_NAME qvftd2xx)
    qd_target_defaults(qd_d2xx)
    target_link_libraries(qd_d2xx PRIVATE PkgConfig::QD_LIBFTDI1 qd_os)
    target_link_options(qd_d2xx PRIVATE -Wl,--no-undefined)
endif()

# Test-side additions, made once every target of the tree exists.
function(qd_link_tests)
    if(TARGET test_link)
        # The pure pieces of the libftdi backend (status mapping, read-ahead,
        # packet unpacking, device matching) are tested on every build.
        target_sources(test_link PRIVATE ${QD_ROOT}/link/ftdi/ftdi_core.cpp)
    endif()
    if(WIN32 AND QD_TESTS AND TARGET QuorvaneDrv)
        add_test(NAME ${QD_BUILD_NAME}.d2ximport
                 COMMAND sh ${QD_ROOT}/scripts/check-d2xx-import.sh ${QD_OBJDUMP} $<TARGET_FILE:QuorvaneDrv>)
        set_tests_properties(${QD_BUILD_NAME}.d2ximport PROPERTIES LABELS host)
    endif()
endfunction()
cmake_language(DEFER CALL qd_link_tests)
