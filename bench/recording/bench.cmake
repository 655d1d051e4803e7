# The writer is portable code over the OS layer: the benchmark compiles it
# alone, without the driver.
target_sources(${BENCH} PRIVATE ${QD_ROOT}/API/driver/ui/recording.cpp)
