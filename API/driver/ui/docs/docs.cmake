# The documents the settings window and the recorder open by name through
# the shell (help pages and licence texts) are shipped beside the Windows
# DLLs.
if(WIN32 AND TARGET QuorvaneDrv)
    set(qd_docs ${QD_ROOT}/API/driver/ui/docs/Quorvane_Driver_Dev_Win.htm
                ${QD_ROOT}/API/driver/ui/docs/Quorvane_Driver_EULA.txt
                ${QD_ROOT}/API/driver/ui/docs/Quorvane_Recorder.htm
                ${QD_ROOT}/API/driver/ui/docs/Quorvane_Recorder_EULA.txt)
    add_custom_command(TARGET QuorvaneDrv POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qd_docs} $<TARGET_FILE_DIR:QuorvaneDrv>
        VERBATIM)
endif()
