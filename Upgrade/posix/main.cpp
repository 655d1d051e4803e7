// main.cpp - the kestrel program.
#include "Upgrade/posix/kestrel_cli.h"

int main(int argc, char **argv) { return kestrelMain(argc, argv); }
