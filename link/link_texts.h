// link_texts.h - texts of the link library's log lines that the tests look
// for, named once so that the code that writes a line and the test that
// expects it use the same text. How each line is written is noted beside it.
#pragma once

constexpr char kLinkNoBleMatch[] = "Matching BLE device has not been found";   // "!TEXT\n"
constexpr char kLinkBleCandidates[] = "BLE Zephra devices checked:";  // "TEXT\n", then "N: ADDRESS\n" per device
constexpr char kLinkUsbReset[] = "USB transceiver reset";                      // "TEXT\n"
constexpr char kLinkIrdaNoDevice[] = "getsockopt 1: No devices found";         // "!TEXT\n"
constexpr char kLinkBtNameTooLong[] = "Name2AddrBt: Device name too long, result skipped:";  // "!TEXT LENGTH\n"

// Failing calls: "!CALL RESULT\n" with the socket error or D2XX status.
constexpr char kLinkSendFailed[] = "send: WSAGetLastError";
constexpr char kLinkQueueFailed[] = "ioctlsocket: WSAGetLastError";
constexpr char kLinkConnectFailed[] = "connect: WSAGetLastError";
constexpr char kLinkLookupFailed[] = "WSALookupServiceBegin: WSAGetLastError";
constexpr char kLinkUsbOpenFailed[] = "FT_OpenEx:";
// The modem status call: its failure as above, and a transceiver that asks
// for a reset as "TEXT 0xSTATUS\n".
constexpr char kLinkModemStatus[] = "FT_GetModemStatus:";
