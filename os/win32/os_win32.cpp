// os_win32.cpp - the operating-system layer on Win32. (Placeholder.)
#include "os/os.h"
