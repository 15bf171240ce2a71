#pragma once
// What the HID stand-in driver and the user-mode process that plays the
// instrument agree on. Plain C, shared by the driver and the C++ side.
//
// \\.\TS4170HidControl:
//   WriteFile  input reports for every started device: one (65 bytes; shorter
//              is zero-padded) or several back to back (a multiple of 65);
//              fails with ERROR_DEVICE_NOT_CONNECTED (or the like) while none is
//              started, and with ERROR_BUSY while a device's queue has no room
//              for them all (nothing is queued then).
//   ReadFile   the next output report a device was given, exactly the bytes the
//              program wrote (65); waits until there is one. Overlapped reads
//              may be cancelled.
//   IOCTL_TS4170_GET_LOG    the driver's log (text, oldest first; lines cut to the
//                           buffer), and empties it.
//   IOCTL_TS4170_GET_STATE  a TS4170_STATE.

#include "protocol/Ts4170Protocol.h"

#define TS4170_CONTROL_DOS_NAME L"\\\\.\\TS4170HidControl"
#define TS4170_HARDWARE_ID L"root\\ts4170_hid"

#define TS4170_FILE_DEVICE 0x8417
#define TS4170_IOCTL(n) (((TS4170_FILE_DEVICE) << 16) | ((n) << 2) | 0 /* METHOD_BUFFERED */)
#define IOCTL_TS4170_GET_LOG TS4170_IOCTL(0x800)
#define IOCTL_TS4170_GET_STATE TS4170_IOCTL(0x801)

typedef struct TS4170_STATE {
  unsigned long StartedDevices;
  unsigned long InputReportsDelivered;  // to the class driver
  unsigned long InputReportsDropped;    // queue full
  unsigned long OutputReports;          // taken from the class driver
  unsigned long OutputReportsDropped;   // nobody collected them in time
  unsigned long InputReportsRefused;    // queue full: the write failed busy
} TS4170_STATE;
