# qdsoak loads the driver and the simulator the way qdacq does and shares
# qdacq's simulator binding and parameter settings. The word for what the
# process holds open: file descriptors on Linux, handles on Windows.
target_sources(${TOOL} PRIVATE ${QD_ROOT}/tools/qdacq/sim_api.cpp ${QD_ROOT}/tools/qdacq/settings.cpp)
if(WIN32)
    target_compile_definitions(${TOOL} PRIVATE QD_HANDLE_WORD="handles")
else()
    target_compile_definitions(${TOOL} PRIVATE QD_HANDLE_WORD="fds")
endif()
