# A host of the shipped driver library (loaded at run time, as qdacq does),
# run by "make bench" under the emulated FTDI transceiver, which exists on
# Linux only.
target_link_libraries(${BENCH} PRIVATE qd_tools_common ${QD_SYSTEM_LIBS})
if(WIN32)
    set_target_properties(${BENCH} PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
