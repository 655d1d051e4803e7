# The recordings made in the window are read back by the recording tests'
# EDF reader.
target_sources(${TEST_TARGET} PRIVATE ${QD_ROOT}/tests/recording/recording_helpers.cpp)
