# qdacq records through the driver's own EDF and TSV writer, which is
# portable code over the OS layer.
target_sources(${TOOL} PRIVATE ${QD_ROOT}/API/driver/ui/recording.cpp ${QD_ROOT}/API/driver/ui/clockmodel.cpp)
