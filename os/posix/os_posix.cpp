// os_posix.cpp - the operating-system layer on Linux. (Placeholder.)
#include "os/os.h"
