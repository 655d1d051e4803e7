/* bleapis.c - the Bluetooth LE stand-in library of the simulator
   (BluetoothAPIs.dll on Windows, libqvbluetoothapis.so on Linux) has no code
   of its own: it stands for the system's GATT library by its name, and its
   functions are those of the simulator library (Windows: exports forwarded
   to FTD2XX.dll; Linux: found through its dependency on libqvftd2xx.so). */
typedef int qd_bleapis_nothing_of_its_own;
