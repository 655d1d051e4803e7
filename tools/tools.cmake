# Host-side tools. Every folder tools/<name>/ becomes one program <name>
# built from its *.cpp files into build/<preset>/tools/. A folder that needs
# more (libraries, definitions) adds a tool.cmake beside its sources; it is
# included after the target is made, with TOOL naming the target.

file(GLOB QD_TOOL_DIRS LIST_DIRECTORIES true CONFIGURE_DEPENDS ${QD_ROOT}/tools/*)
foreach(dir ${QD_TOOL_DIRS})
    if(NOT IS_DIRECTORY ${dir})
        continue()
    endif()
    get_filename_component(TOOL ${dir} NAME)
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    if(NOT sources)
        continue()
    endif()
    add_executable(${TOOL} ${sources})
    qd_target_defaults(${TOOL})
    target_link_libraries(${TOOL} PRIVATE qd_os)
    set_target_properties(${TOOL} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
    if(WIN32)
        target_link_options(${TOOL} PRIVATE ${QD_STATIC_RUNTIME})
    endif()
    include(${dir}/tool.cmake OPTIONAL)
endforeach()
