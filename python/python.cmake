# The Python package (python/quorvane): its tests with pytest against this
# build's driver, simulator library and qdacq, and a short run of its
# benchmark. Native build only: a package loads the library of its own
# interpreter's platform, and there is no Windows Python under Wine here.
# The system Python is used (Debian's python3-numpy, python3-pytest,
# python3-mne from scripts/setup.sh).

if(WIN32 OR NOT TARGET QuorvaneDrv OR NOT TARGET qd_ftd2xx_sim OR NOT TARGET qdacq)
    return()
endif()

set(QD_PYTHON /usr/bin/python3 CACHE FILEPATH "Python with numpy and pytest for the package's tests")
set(qd_python_env
    "PYTHONPATH=${QD_ROOT}/python"
    "PYTHONDONTWRITEBYTECODE=1"
    "QUORVANE_DRIVER=$<TARGET_FILE:QuorvaneDrv>"
    "QUORVANE_SIMULATOR=$<TARGET_FILE:qd_ftd2xx_sim>"
    "QUORVANE_QDACQ=$<TARGET_FILE:qdacq>"
    "QUORVANE_SOURCE=${QD_ROOT}")

# The tests run against the package as pip installs it (python/check-pip-install.sh:
# "pip install ./python" into a fresh virtual environment, offline), not the tree.
add_test(NAME ${QD_BUILD_NAME}.python
         COMMAND sh ${QD_ROOT}/python/check-pip-install.sh ${QD_PYTHON} ${CMAKE_BINARY_DIR}/python-pip)
add_test(NAME ${QD_BUILD_NAME}.bench-python
         COMMAND ${QD_PYTHON} ${QD_ROOT}/bench/python/delivery.py --packets 2000 --seconds 1)
set_tests_properties(${QD_BUILD_NAME}.python ${QD_BUILD_NAME}.bench-python PROPERTIES
    ENVIRONMENT "${qd_python_env}" TIMEOUT 300)
set_tests_properties(${QD_BUILD_NAME}.bench-python PROPERTIES PASS_REGULAR_EXPRESSION "figure: live_samples_per_cpu_second")
