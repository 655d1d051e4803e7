# QuorvaneRecorder.exe (Windows only: its sources are in win32/): a window
# program that sits beside the driver of its bitness, as it does once
# installed, so that it loads the driver from its own folder and finds the
# simulator in sim/ there. Its resources carry the icon, the manifest and
# the version.
enable_language(RC)
target_sources(${TOOL} PRIVATE ${QD_ROOT}/tools/recorder/win32/recorder.rc)
set_property(SOURCE ${QD_ROOT}/tools/recorder/win32/recorder.rc APPEND PROPERTY OBJECT_DEPENDS
             ${QD_ROOT}/tools/recorder/win32/recorder.manifest ${QD_ROOT}/tools/recorder/win32/recorder.ico)
set_target_properties(${TOOL} PROPERTIES WIN32_EXECUTABLE TRUE OUTPUT_NAME QuorvaneRecorder
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_libraries(${TOOL} PRIVATE user32 shell32)
add_dependencies(${TOOL} QuorvaneDrv qd_ftd2xx_sim qd_bleapis_sim)
