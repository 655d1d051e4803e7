# libFuzzer targets. The native build's compiler is g++, which has no
# libFuzzer, so the targets are built by a small separate CMake build with
# clang++ (tests/fuzz/CMakeLists.txt, in build/<preset>/fuzz). Each target
# then runs in ctest as a short smoke run over its checked-in seed corpus
# (tests/fuzz/corpus/<name>/), named <build>.fuzz_<name>.
#
# Adding a target: one qd_fuzz_target() line in tests/fuzz/targets.cmake, the
# file tests/fuzz/fuzz_<name>.cpp and a few seeds in tests/fuzz/corpus/<name>/.

if(NOT QD_FUZZ OR WIN32)
    return()
endif()

find_program(QD_FUZZ_CXX NAMES clang++ clang++-16 clang++-15 clang++-14)
find_program(QD_FUZZ_CC NAMES clang clang-16 clang-15 clang-14)
if(NOT QD_FUZZ_CXX OR NOT QD_FUZZ_CC)
    message(STATUS "Fuzz targets skipped: clang/clang++ not found")
    return()
endif()

include(ExternalProject)
ExternalProject_Add(qd_fuzz
    SOURCE_DIR ${QD_ROOT}/tests/fuzz
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS
        -DCMAKE_C_COMPILER=${QD_FUZZ_CC}
        -DCMAKE_CXX_COMPILER=${QD_FUZZ_CXX}
        -DCMAKE_BUILD_TYPE=RelWithDebInfo
        -DQD_ROOT=${QD_ROOT}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")

# Seconds each smoke run fuzzes.
set(QD_FUZZ_SECONDS 4 CACHE STRING "Length of each fuzz smoke run in ctest")

# In this build a target only becomes a test; the fuzz build compiles it
# and its pieces.
function(qd_fuzz_piece)
endfunction()
function(qd_fuzz_target name)
    add_test(NAME ${QD_BUILD_NAME}.fuzz_${name}
        COMMAND ${QD_ROOT}/tests/fuzz/run-fuzz.sh ${CMAKE_BINARY_DIR}/fuzz/fuzz_${name}
                ${QD_ROOT}/tests/fuzz/corpus/${name} ${CMAKE_BINARY_DIR}/fuzz/work-${name}
                ${QD_FUZZ_SECONDS})
    set_tests_properties(${QD_BUILD_NAME}.fuzz_${name} PROPERTIES TIMEOUT 300)
endfunction()

include(${QD_ROOT}/tests/fuzz/targets.cmake)
