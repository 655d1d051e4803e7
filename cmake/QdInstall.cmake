# Installation of the Linux build (cmake --install, make install), in four
# components, one for each Debian package (packaging/debian, make deb):
#   lib      lib/libQuorvaneDrv.so.5.4.5 with its soname link .so.5, and
#            libqvftd2xx.so, the D2XX library it needs (found beside it
#            through its run path)
#   dev      include/QuorvaneDrv.h, the link lib/libQuorvaneDrv.so and
#            lib/pkgconfig/quorvane.pc
#   tools    bin/qdacq, bin/qdparams and bin/kestrel (they find the installed
#            libraries through their run path, $ORIGIN/../lib); the
#            simulator libraries qdacq --simulate loads, in
#            lib/quorvane/sim/; lib/udev/rules.d/70-quorvane.rules, the
#            transceivers' access for the user at the seat and the plugdev
#            group (QD_UDEV_RULESDIR); the manual pages in share/man/man1
#   python   the package quorvane; not installed by default: the Debian
#            package puts it into the system Python, pip installs it
#            elsewhere (python/pyproject.toml)
# Run paths that start with $ORIGIN hold wherever the prefix is.
# The Windows builds ship their DLLs as they are built.

if(WIN32 OR NOT TARGET QuorvaneDrv)
    return()
endif()

include(GNUInstallDirs)

set_target_properties(QuorvaneDrv PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS QuorvaneDrv LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev)
if(TARGET qd_d2xx)
    install(TARGETS qd_d2xx LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib)
endif()
install(FILES ${QD_ROOT}/API/QuorvaneDrv.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# udev reads lib/udev/rules.d below /usr and /usr/local alike.
set(QD_UDEV_RULESDIR "lib/udev/rules.d" CACHE STRING "udev rules folder, relative to the prefix")
install(FILES ${QD_ROOT}/link/ftdi/70-quorvane.rules DESTINATION ${QD_UDEV_RULESDIR} COMPONENT tools)

foreach(tool qdacq qdparams kestrel)
    if(TARGET ${tool})
        set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
    endif()
endforeach()
install(FILES ${QD_ROOT}/tools/qdacq/qdacq.1 ${QD_ROOT}/tools/qdparams/qdparams.1 ${QD_ROOT}/Upgrade/posix/kestrel.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)

# The simulator stands in for libqvftd2xx.so under the same name, so it
# lives in a folder of its own that no library search reaches: qdacq and
# the Python package load it from there by path (QD_SIM_INSTALL_DIR, set in
# tools/tools.cmake).
if(TARGET qd_ftd2xx_sim AND TARGET qd_bleapis_sim)
    set_target_properties(qd_bleapis_sim PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS qd_ftd2xx_sim qd_bleapis_sim LIBRARY DESTINATION ${QD_SIM_INSTALL_DIR} COMPONENT tools)
endif()

# The pkg-config file names the prefix the installation goes to, which
# "cmake --install --prefix" may choose only then: it is written at install
# time.
install(CODE "
    set(QD_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(QD_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(QD_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(QD_PC_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${QD_ROOT}/cmake/quorvane.pc.in\" \"${CMAKE_BINARY_DIR}/quorvane.pc\" @ONLY)
" COMPONENT dev)
install(FILES ${CMAKE_BINARY_DIR}/quorvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# The Python package: its modules as they are in the tree (no compiled
# part), below the folder the caller names relative to the prefix
# (QD_PYTHON_INSTALL_DIR; the Debian package's lib/python3/dist-packages).
set(QD_PYTHON_INSTALL_DIR "lib/python3/dist-packages" CACHE STRING "Python package folder, relative to the prefix")
install(DIRECTORY ${QD_ROOT}/python/quorvane DESTINATION ${QD_PYTHON_INSTALL_DIR}
        COMPONENT python EXCLUDE_FROM_ALL FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)

# What an installation needs built (make deb builds only these).
add_custom_target(qd_installed)
foreach(target QuorvaneDrv qd_d2xx qdacq qdparams kestrel qd_ftd2xx_sim qd_bleapis_sim)
    if(TARGET ${target})
        add_dependencies(qd_installed ${target})
    endif()
endforeach()
