# The Linux command-line loader, build/native/kestrel. kestrel_cli.cpp holds
# the program; the test host in tests/kestrel runs the same code against
# the in-process simulator.
set(QD_KESTREL_CLI ${QD_ROOT}/Upgrade/posix/kestrel_cli.cpp)
add_executable(kestrel ${QD_ROOT}/Upgrade/posix/main.cpp)
qd_upgrade_program(kestrel ${QD_KESTREL_CLI})
