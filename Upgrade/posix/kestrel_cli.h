// kestrel_cli.h - the firmware loader's command line for Linux.
//
//   kestrel FILE [L=KEY] [A=ID] [D=TEXT]     uploads FILE into the device
//   kestrel --check [L=KEY] [A=ID]           shows the device's identity
//   kestrel                                  takes its arguments from upgrade.cfg
//
// KEY is one of ir, bt, usb, ble (any letter case); ID names the device as
// for the driver (a USB serial number or description, a Bluetooth address
// or name). The device fields appear as the device reports them, then the
// progress (a bar on a terminal, a percentage line otherwise) and the
// result.
#pragma once

// Exit status.
enum : int {
    KESTREL_OK = 0,         // "Firmware updated succesfully." or a clean Check
    KESTREL_FAILED = 1,     // the file, the link or the device failed
    KESTREL_USAGE = 2,      // bad command line or upgrade.cfg
};

// The whole program; argv[0] is not used (the program's path comes from
// the system).
int kestrelMain(int argc, char **argv);
