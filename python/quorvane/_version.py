"""The package's version: that of the driver it is made for. Its first
number is the driver library's soname version (libQuorvaneDrv.so.5)."""

__version__ = "5.4.5"
