# The stand-in of the device-service program: a small program named
# QuorvaneServ that writes the command line it was started with to the file
# named by QD_SERVICES_RECORD. It lives in services_stand_in/ beside the test
# program, which starts it through QdDevServices.
add_executable(qd_services_stand_in ${CMAKE_CURRENT_LIST_DIR}/stand_in/stand_in.cpp)
target_compile_options(qd_services_stand_in PRIVATE ${QD_WARNINGS})
set_target_properties(qd_services_stand_in PROPERTIES
    OUTPUT_NAME QuorvaneServ
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/services_stand_in)
if(WIN32)
    target_link_options(qd_services_stand_in PRIVATE ${QD_STATIC_RUNTIME})
endif()
add_dependencies(${TEST_TARGET} qd_services_stand_in)
