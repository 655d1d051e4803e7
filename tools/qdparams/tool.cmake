# qdparams loads the driver library of this build; its test prints the tree
# of a Halvex+ 4 model and checks the four EEG cap site lists.
if(QD_TESTS)
    add_dependencies(${TOOL} QuorvaneDrv)
    # Libraries to load before the driver, as one argument ("|" between
    # paths): the scripts put each behind a --preload of the tool.
    string(REPLACE ";" "|" qdparams_preload "${QD_QDHOST_PRELOAD}")
    add_test(NAME ${QD_BUILD_NAME}.qdparams
             COMMAND ${CMAKE_COMMAND}
                     -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
                     -DTOOL=$<TARGET_FILE:${TOOL}>
                     -DLIBRARY=$<TARGET_FILE:QuorvaneDrv>
                     "-DPRELOAD=${qdparams_preload}"
                     -DSHARED=${CMAKE_CURRENT_BINARY_DIR}/qdparams-shared
                     -P ${QD_ROOT}/tools/qdparams/check-tree.cmake)
    set_tests_properties(${QD_BUILD_NAME}.qdparams PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
    # Settings files: save, load, convert, refuse.
    add_test(NAME ${QD_BUILD_NAME}.qdparams_settings
             COMMAND ${CMAKE_COMMAND}
                     -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
                     -DTOOL=$<TARGET_FILE:${TOOL}>
                     -DLIBRARY=$<TARGET_FILE:QuorvaneDrv>
                     "-DPRELOAD=${qdparams_preload}"
                     -DSHARED=${CMAKE_CURRENT_BINARY_DIR}/qdparams-settings-shared
                     -DWORK=${CMAKE_CURRENT_BINARY_DIR}/qdparams-settings
                     -P ${QD_ROOT}/tools/qdparams/check-settings.cmake)
    set_tests_properties(${QD_BUILD_NAME}.qdparams_settings PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()
