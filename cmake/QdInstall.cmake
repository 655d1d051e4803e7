# Installation of the Linux build (cmake --install, make install):
#   lib/     libQuorvaneDrv.so.5.4.5 with its soname link libQuorvaneDrv.so.5
#            and the link libQuorvaneDrv.so, and libqvftd2xx.so, the D2XX
#            library it needs (found beside it through its run path)
#   include/ QuorvaneDrv.h
#   lib/pkgconfig/quorvane.pc
#   bin/     qdacq and qdparams, which find the installed driver through
#            their run path ($ORIGIN/../lib)
#   lib/udev/rules.d/70-quorvane.rules: the transceivers' access for the
#            user at the seat and the plugdev group (QD_UDEV_RULESDIR)
# The Windows builds ship their DLLs as they are built.

if(WIN32 OR NOT TARGET QuorvaneDrv)
    return()
endif()

include(GNUInstallDirs)

set_target_properties(QuorvaneDrv PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS QuorvaneDrv LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET qd_d2xx)
    install(TARGETS qd_d2xx LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(FILES ${QD_ROOT}/API/QuorvaneDrv.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# udev reads lib/udev/rules.d below /usr and /usr/local alike.
set(QD_UDEV_RULESDIR "lib/udev/rules.d" CACHE STRING "udev rules folder, relative to the prefix")
install(FILES ${QD_ROOT}/link/ftdi/70-quorvane.rules DESTINATION ${QD_UDEV_RULESDIR})

foreach(tool qdacq qdparams)
    if(TARGET ${tool})
        set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

# The pkg-config file names the prefix the installation goes to, which
# "cmake --install --prefix" may choose only then: it is written at install
# time.
install(CODE "
    set(QD_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(QD_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(QD_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(QD_PC_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${QD_ROOT}/cmake/quorvane.pc.in\" \"${CMAKE_BINARY_DIR}/quorvane.pc\" @ONLY)
")
install(FILES ${CMAKE_BINARY_DIR}/quorvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
