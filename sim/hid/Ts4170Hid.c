// ts4170hid.sys: the virtual instrument as a HID device. A HID minidriver for
// root-enumerated devices "root\vid_5555&pid_XXXX\N"; the class driver does the
// HID side, a control device lets a user-mode process play the instrument.

#include <ntifs.h>
// After ntifs.h, which they build on, in this order.
// clang-format off
#include <hidusage.h>
#include <hidclass.h>
// clang-format on

#include "sim/hid/HidControl.h"

// From the public documentation of the HID minidriver interface; the toolchain
// ships no hidport.h and wrong numbers for these codes in hidclass.h.
typedef struct {
  ULONG Revision;
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  ULONG DeviceExtensionSize;
  BOOLEAN DevicesArePolled;
  UCHAR Reserved[3];
} MINIDRIVER_REGISTRATION;

typedef struct {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT NextDeviceObject;
  PVOID MiniDeviceExtension;
} CLASS_DEVICE_EXTENSION;

#pragma pack(push, 1)
typedef struct {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdHID;
  UCHAR bCountry;
  UCHAR bNumDescriptors;
  UCHAR bReportType;
  USHORT wReportLength;
} CLASS_HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
  USHORT Reserved[11];
} CLASS_DEVICE_ATTRIBUTES;

NTSTATUS NTAPI HidRegisterMinidriver(MINIDRIVER_REGISTRATION* registration);

// The kernel's C library, which the kernel headers do not declare.
int __cdecl _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
int __cdecl _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);

#define MINI_IOCTL(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define MINI_GET_DEVICE_DESCRIPTOR MINI_IOCTL(0)
#define MINI_GET_REPORT_DESCRIPTOR MINI_IOCTL(1)
#define MINI_READ_REPORT MINI_IOCTL(2)
#define MINI_WRITE_REPORT MINI_IOCTL(3)
#define MINI_GET_STRING MINI_IOCTL(4)
#define MINI_ACTIVATE_DEVICE MINI_IOCTL(7)
#define MINI_DEACTIVATE_DEVICE MINI_IOCTL(8)
#define MINI_GET_DEVICE_ATTRIBUTES MINI_IOCTL(9)
#define MINI_SET_OUTPUT_REPORT CTL_CODE(FILE_DEVICE_KEYBOARD, 101, METHOD_IN_DIRECT, FILE_ANY_ACCESS)

#define QUEUE_LIMIT 256
#define LOG_SIZE 32768

// Vendor page, 64 data bytes per report; input ID 0x01, output IDs 0x0F
// (commands) and 0x07 (screen messages), so every report is 65 bytes with its ID.
static const UCHAR kReportDescriptor[] = {
    0x06, 0x00,
    0xFF,        // Usage Page (vendor 0xFF00)
    0x09, 0x01,  // Usage (1)
    0xA1, 0x01,  // Collection (Application)
    0x15, 0x00,  //   Logical Minimum (0)
    0x26, 0xFF,
    0x00,                            //   Logical Maximum (255)
    0x75, 0x08,                      //   Report Size (8)
    0x95, 0x40,                      //   Report Count (64)
    0x85, TS4170_INPUT_REPORT_ID,    //   Report ID (1)
    0x09, 0x01,                      //   Usage (1)
    0x81, 0x02,                      //   Input (Data, Variable, Absolute)
    0x85, TS4170_COMMAND_REPORT_ID,  //   Report ID (15)
    0x09, 0x01,                      //   Usage (1)
    0x91, 0x02,                      //   Output (Data, Variable, Absolute)
    0x85, TS4170_MESSAGE_REPORT_ID,  //   Report ID (7)
    0x09, 0x01,                      //   Usage (1)
    0x91, 0x02,                      //   Output (Data, Variable, Absolute)
    0xC0,                            // End Collection
};

typedef struct {
  UCHAR Bytes[TS4170_REPORT_SIZE];
} REPORT;

typedef struct {
  REPORT Items[QUEUE_LIMIT];
  ULONG Head, Count;
} REPORT_QUEUE;

// The minidriver's part of a device extension.
typedef struct DEVICE_STATE {
  LIST_ENTRY Link;  // in g.Devices
  PDEVICE_OBJECT Fdo;
  USHORT ProductID;
  BOOLEAN Started;
  BOOLEAN Removing;
  LIST_ENTRY PendingReads;
  REPORT_QUEUE Input;
} DEVICE_STATE;

static struct {
  KSPIN_LOCK Lock;  // everything below
  LIST_ENTRY Devices;
  REPORT_QUEUE Output;
  LIST_ENTRY PendingControlReads;
  TS4170_STATE Counters;
  char Log[LOG_SIZE];
  ULONG LogLength;
  ULONG LogSequence;

  PDEVICE_OBJECT Control;
  PDRIVER_DISPATCH ClassDispatch[IRP_MJ_MAXIMUM_FUNCTION + 1];
  PDRIVER_UNLOAD ClassUnload;
} g;

static UNICODE_STRING ControlName(void) {
  UNICODE_STRING s;
  RtlInitUnicodeString(&s, L"\\Device\\TS4170HidControl");
  return s;
}

static UNICODE_STRING ControlLink(void) {
  UNICODE_STRING s;
  RtlInitUnicodeString(&s, L"\\DosDevices\\TS4170HidControl");
  return s;
}

// Appends a line to the log; the oldest half goes when it is full.
static void Log(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  int n = _vsnprintf(line, sizeof line - 2, format, args);
  va_end(args);
  if (n < 0 || n > (int)sizeof line - 2) n = sizeof line - 2;
  line[n++] = '\n';
  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  if (g.LogLength + n > LOG_SIZE) {
    ULONG keep = g.LogLength / 2;
    memmove(g.Log, g.Log + g.LogLength - keep, keep);
    g.LogLength = keep;
  }
  memcpy(g.Log + g.LogLength, line, n);
  g.LogLength += n;
  ++g.LogSequence;
  KeReleaseSpinLock(&g.Lock, irql);
}

static void QueuePut(REPORT_QUEUE* q, const REPORT* r, ULONG* dropped) {
  if (q->Count == QUEUE_LIMIT) {  // the oldest goes, so the feeder never stalls
    q->Head = (q->Head + 1) % QUEUE_LIMIT;
    --q->Count;
    ++*dropped;
  }
  q->Items[(q->Head + q->Count) % QUEUE_LIMIT] = *r;
  ++q->Count;
}

static BOOLEAN QueueTake(REPORT_QUEUE* q, REPORT* r) {
  if (!q->Count) return FALSE;
  *r = q->Items[q->Head];
  q->Head = (q->Head + 1) % QUEUE_LIMIT;
  --q->Count;
  return TRUE;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static DEVICE_STATE* StateOf(PDEVICE_OBJECT fdo) {
  return (DEVICE_STATE*)((CLASS_DEVICE_EXTENSION*)fdo->DeviceExtension)->MiniDeviceExtension;
}

// Null for the class driver's child devices and the control device.
static DEVICE_STATE* FindDevice(PDEVICE_OBJECT device) {
  for (LIST_ENTRY* e = g.Devices.Flink; e != &g.Devices; e = e->Flink) {
    DEVICE_STATE* s = CONTAINING_RECORD(e, DEVICE_STATE, Link);
    if (s->Fdo == device) return s;
  }
  return NULL;
}

// --- Pending requests -------------------------------------------------------

static VOID NTAPI CancelQueued(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  InitializeListHead(&irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&g.Lock, irql);
  Complete(irp, STATUS_CANCELLED, 0);
}

// Under g.Lock. False when the request was cancelled already (and is completed
// by the caller after the lock is released).
static BOOLEAN Park(LIST_ENTRY* list, PIRP irp) {
  IoSetCancelRoutine(irp, CancelQueued);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) return FALSE;
  IoMarkIrpPending(irp);
  InsertTailList(list, &irp->Tail.Overlay.ListEntry);
  return TRUE;
}

// Under g.Lock: the oldest parked request that is not being cancelled.
static PIRP Unpark(LIST_ENTRY* list) {
  while (!IsListEmpty(list)) {
    LIST_ENTRY* e = RemoveHeadList(list);
    PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
    InitializeListHead(e);
    if (IoSetCancelRoutine(irp, NULL)) return irp;
    // Its cancel routine runs and completes it.
  }
  return NULL;
}

static void CopyReport(PIRP irp, void* to, ULONG room, const REPORT* r, NTSTATUS* status, ULONG_PTR* size) {
  ULONG n = room < TS4170_REPORT_SIZE ? room : TS4170_REPORT_SIZE;
  memcpy(to, r->Bytes, n);
  (void)irp;
  *status = STATUS_SUCCESS;
  *size = n;
}

// A removed device's class driver waits for its read to end and cannot cancel
// it: end them all, and refuse new ones, at the first sign of removal.
static void FailReads(DEVICE_STATE* s, const char* why) {
  LIST_ENTRY done;
  InitializeListHead(&done);
  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  BOOLEAN was = s->Removing;
  s->Removing = TRUE;
  s->Started = FALSE;
  PIRP irp;
  while ((irp = Unpark(&s->PendingReads))) InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&g.Lock, irql);
  ULONG n = 0;
  while (!IsListEmpty(&done)) {
    irp = CONTAINING_RECORD(RemoveHeadList(&done), IRP, Tail.Overlay.ListEntry);
    Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    ++n;
  }
  if (!was || n) Log("pid %04x: %s, %lu pending reads failed", s->ProductID, why, n);
}

// --- The HID device (the minidriver's side of the class driver) ------------

static NTSTATUS GetString(DEVICE_STATE* s, PIRP irp, PIO_STACK_LOCATION stack) {
  ULONG_PTR arg = (ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer;
  ULONG id = (ULONG)(arg & 0xFFFF);
  WCHAR serial[16];
  const WCHAR* text;
  // The class driver asks by 14/15/16 on Windows and by 1/2/3 on Wine.
  switch (id) {
    case 14:
    case 1:
      text = L"TS4170 Virtual";
      break;
    case 15:
    case 2:
      text = L"TS4170 HID";
      break;
    case 16:
    case 3:
      _snwprintf(serial, 16, L"VT%04X0001", s->ProductID);
      serial[15] = 0;
      text = serial;
      break;
    default:
      Log("pid %04x: string %lu refused", s->ProductID, id);
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  ULONG bytes = (ULONG)(wcslen(text) + 1) * sizeof(WCHAR);
  ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
  if (!irp->UserBuffer || room < sizeof(WCHAR)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  if (bytes > room) bytes = room & ~1u;
  memcpy(irp->UserBuffer, text, bytes);
  ((WCHAR*)irp->UserBuffer)[bytes / sizeof(WCHAR) - 1] = 0;
  return Complete(irp, STATUS_SUCCESS, bytes);
}

static NTSTATUS ReadReport(DEVICE_STATE* s, PIRP irp, PIO_STACK_LOCATION stack) {
  ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
  REPORT r;
  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  if (s->Removing || !s->Started) {
    KeReleaseSpinLock(&g.Lock, irql);
    return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  }
  if (QueueTake(&s->Input, &r)) {
    ++g.Counters.InputReportsDelivered;
    KeReleaseSpinLock(&g.Lock, irql);
    NTSTATUS status;
    ULONG_PTR size;
    CopyReport(irp, irp->UserBuffer, room, &r, &status, &size);
    return Complete(irp, status, size);
  }
  BOOLEAN parked = Park(&s->PendingReads, irp);
  KeReleaseSpinLock(&g.Lock, irql);
  return parked ? STATUS_PENDING : Complete(irp, STATUS_CANCELLED, 0);
}

// The device takes exactly the bytes the program wrote: the ID first, then the
// data. What the class driver hands over differs (the ID in the packet, in the
// buffer, or both), so the report is put together from what came.
static NTSTATUS WriteReport(DEVICE_STATE* s, PIRP irp, HID_XFER_PACKET* packet, const char* how) {
  if (!packet || !packet->reportBuffer) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  REPORT r;
  memset(&r, 0, sizeof r);
  ULONG len = packet->reportBufferLen;
  const UCHAR* data = packet->reportBuffer;
  ULONG taken;
  if (len >= TS4170_REPORT_SIZE || (len && data[0] == packet->reportId && len == TS4170_REPORT_SIZE)) {
    taken = len < TS4170_REPORT_SIZE ? len : TS4170_REPORT_SIZE;
    memcpy(r.Bytes, data, taken);
  } else {
    r.Bytes[0] = packet->reportId;
    taken = len < TS4170_REPORT_SIZE - 1 ? len : TS4170_REPORT_SIZE - 1;
    memcpy(r.Bytes + 1, data, taken);
  }
  Log("pid %04x: %s id %02x len %lu first %02x", s->ProductID, how, packet->reportId, len, len ? data[0] : 0);

  PIRP reader;
  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  ++g.Counters.OutputReports;
  reader = Unpark(&g.PendingControlReads);
  if (!reader) QueuePut(&g.Output, &r, &g.Counters.OutputReportsDropped);
  KeReleaseSpinLock(&g.Lock, irql);
  if (reader) {
    PIO_STACK_LOCATION rs = IoGetCurrentIrpStackLocation(reader);
    NTSTATUS status;
    ULONG_PTR size;
    CopyReport(reader, reader->AssociatedIrp.SystemBuffer, rs->Parameters.Read.Length, &r, &status, &size);
    Complete(reader, status, size);
  }
  return Complete(irp, STATUS_SUCCESS, len);
}

static NTSTATUS HidIoctl(DEVICE_STATE* s, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
  switch (code) {
    case MINI_GET_DEVICE_DESCRIPTOR: {
      CLASS_HID_DESCRIPTOR d = {sizeof d, 0x21, 0x0111, 0, 1, 0x22, sizeof kReportDescriptor};
      if (room < sizeof d) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      memcpy(irp->UserBuffer, &d, sizeof d);
      return Complete(irp, STATUS_SUCCESS, sizeof d);
    }
    case MINI_GET_REPORT_DESCRIPTOR:
      if (room < sizeof kReportDescriptor) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      memcpy(irp->UserBuffer, kReportDescriptor, sizeof kReportDescriptor);
      return Complete(irp, STATUS_SUCCESS, sizeof kReportDescriptor);
    case MINI_GET_DEVICE_ATTRIBUTES: {
      CLASS_DEVICE_ATTRIBUTES a;
      memset(&a, 0, sizeof a);
      a.Size = sizeof a;
      a.VendorID = TS4170_VENDOR_ID;
      a.ProductID = s->ProductID;
      a.VersionNumber = 0x0100;
      if (room < sizeof a) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      memcpy(irp->UserBuffer, &a, sizeof a);
      return Complete(irp, STATUS_SUCCESS, sizeof a);
    }
    case MINI_GET_STRING:
      return GetString(s, irp, stack);
    case MINI_READ_REPORT:
      return ReadReport(s, irp, stack);
    case MINI_WRITE_REPORT:
      return WriteReport(s, irp, (HID_XFER_PACKET*)irp->UserBuffer, "write");
    case MINI_SET_OUTPUT_REPORT:
      return WriteReport(s, irp, (HID_XFER_PACKET*)irp->UserBuffer, "set output");
    case MINI_ACTIVATE_DEVICE:
    case MINI_DEACTIVATE_DEVICE:
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      Log("pid %04x: ioctl %08lx not supported", s->ProductID, code);
      return Complete(irp, STATUS_NOT_SUPPORTED, 0);
  }
}

// --- Plug and play and power -----------------------------------------------

static NTSTATUS NTAPI SignalEvent(PDEVICE_OBJECT device, PIRP irp, PVOID event) {
  (void)device;
  (void)irp;
  KeSetEvent((PKEVENT)event, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

static NTSTATUS PassDownAndWait(PDEVICE_OBJECT fdo, PIRP irp) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, SignalEvent, &done, TRUE, TRUE, TRUE);
  NTSTATUS status = IoCallDriver(((CLASS_DEVICE_EXTENSION*)fdo->DeviceExtension)->NextDeviceObject, irp);
  if (status == STATUS_PENDING) KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
  return irp->IoStatus.Status;
}

static NTSTATUS PassDown(PDEVICE_OBJECT fdo, PIRP irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(((CLASS_DEVICE_EXTENSION*)fdo->DeviceExtension)->NextDeviceObject, irp);
}

// The ProductID comes from the device's hardware ID, "root\vid_5555&pid_XXXX".
static USHORT ProductIdOf(PDEVICE_OBJECT pdo) {
  WCHAR ids[256];
  ULONG size = 0;
  memset(ids, 0, sizeof ids);
  NTSTATUS status =
      IoGetDeviceProperty(pdo, DevicePropertyHardwareID, sizeof ids - sizeof(WCHAR), ids, &size);
  if (!NT_SUCCESS(status)) {
    Log("hardware ID not read (%08lx): pid %04x", status, TS4170_PRODUCT_ID);
    return TS4170_PRODUCT_ID;
  }
  for (const WCHAR* id = ids; *id && id < ids + 255; id += wcslen(id) + 1) {
    for (const WCHAR* p = id; p[0] && p[1] && p[2] && p[3]; ++p) {
      if ((p[0] | 0x20) != 'p' || (p[1] | 0x20) != 'i' || (p[2] | 0x20) != 'd' || p[3] != '_') continue;
      USHORT value = 0;
      int digits = 0;
      for (const WCHAR* h = p + 4; digits < 4 && *h; ++h, ++digits) {
        WCHAR c = *h | 0x20;
        if (c >= '0' && c <= '9')
          value = (USHORT)(value * 16 + (c - '0'));
        else if (c >= 'a' && c <= 'f')
          value = (USHORT)(value * 16 + (c - 'a' + 10));
        else
          break;
      }
      if (digits == 4) return value;
    }
  }
  Log("no pid_ in the hardware IDs: pid %04x", TS4170_PRODUCT_ID);
  return TS4170_PRODUCT_ID;
}

static NTSTATUS NTAPI FdoPnp(PDEVICE_OBJECT fdo, PIRP irp) {
  DEVICE_STATE* s = StateOf(fdo);
  UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
  switch (minor) {
    case IRP_MN_START_DEVICE: {
      NTSTATUS status = PassDownAndWait(fdo, irp);
      KIRQL irql;
      KeAcquireSpinLock(&g.Lock, &irql);
      // The driver may stay loaded across a removal: a new start begins empty.
      s->Input.Count = 0;
      g.Output.Count = 0;
      s->Removing = FALSE;
      s->Started = NT_SUCCESS(status) || status == STATUS_NOT_SUPPORTED;
      KeReleaseSpinLock(&g.Lock, irql);
      Log("pid %04x: start (%08lx)", s->ProductID, status);
      if (status == STATUS_NOT_SUPPORTED) status = STATUS_SUCCESS;
      return Complete(irp, status, irp->IoStatus.Information);
    }
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
      FailReads(s, minor == IRP_MN_SURPRISE_REMOVAL ? "surprise removal"
                   : minor == IRP_MN_STOP_DEVICE    ? "stop"
                                                    : "query remove");
      irp->IoStatus.Status = STATUS_SUCCESS;
      return PassDown(fdo, irp);
    case IRP_MN_CANCEL_REMOVE_DEVICE: {
      KIRQL irql;
      KeAcquireSpinLock(&g.Lock, &irql);
      s->Removing = FALSE;
      s->Started = TRUE;
      KeReleaseSpinLock(&g.Lock, irql);
      Log("pid %04x: removal cancelled", s->ProductID);
      irp->IoStatus.Status = STATUS_SUCCESS;
      return PassDown(fdo, irp);
    }
    case IRP_MN_REMOVE_DEVICE: {
      FailReads(s, "remove");
      irp->IoStatus.Status = STATUS_SUCCESS;
      NTSTATUS status = PassDown(fdo, irp);
      KIRQL irql;
      KeAcquireSpinLock(&g.Lock, &irql);
      RemoveEntryList(&s->Link);
      KeReleaseSpinLock(&g.Lock, irql);
      Log("pid %04x: removed", s->ProductID);
      return status;
    }
    default:
      return PassDown(fdo, irp);
  }
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT fdo) {
  (void)driver;
  DEVICE_STATE* s = StateOf(fdo);
  memset(s, 0, sizeof *s);
  s->Fdo = fdo;
  s->ProductID = ProductIdOf(((CLASS_DEVICE_EXTENSION*)fdo->DeviceExtension)->PhysicalDeviceObject);
  InitializeListHead(&s->PendingReads);
  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  InsertTailList(&g.Devices, &s->Link);
  KeReleaseSpinLock(&g.Lock, irql);
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  Log("pid %04x: added", s->ProductID);
  return STATUS_SUCCESS;
}

// The class driver's child device of one of ours. Wine's class driver keeps
// the parent first in the child's extension; with any other layout every
// device is taken, which only costs the others a failed read.
static void FailReadsForChild(PDEVICE_OBJECT child, const char* why) {
  PDEVICE_OBJECT parent = child->DeviceExtension ? *(PDEVICE_OBJECT*)child->DeviceExtension : NULL;
  for (LIST_ENTRY* e = g.Devices.Flink; e != &g.Devices; e = e->Flink) {
    DEVICE_STATE* s = CONTAINING_RECORD(e, DEVICE_STATE, Link);
    if (s->Fdo == parent) {
      FailReads(s, why);
      return;
    }
  }
  for (LIST_ENTRY* e = g.Devices.Flink; e != &g.Devices; e = e->Flink)
    FailReads(CONTAINING_RECORD(e, DEVICE_STATE, Link), why);
}

// --- The control device ----------------------------------------------------

// Hands one report to every started device; answers how many there are.
static ULONG Deliver(const REPORT* r) {
  PIRP readers[8];
  ULONG nReaders = 0, started = 0;
  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  for (LIST_ENTRY* e = g.Devices.Flink; e != &g.Devices; e = e->Flink) {
    DEVICE_STATE* s = CONTAINING_RECORD(e, DEVICE_STATE, Link);
    if (!s->Started || s->Removing) continue;
    ++started;
    PIRP reader = nReaders < 8 ? Unpark(&s->PendingReads) : NULL;
    if (reader) {
      ++g.Counters.InputReportsDelivered;
      readers[nReaders++] = reader;
    } else {
      QueuePut(&s->Input, r, &g.Counters.InputReportsDropped);
    }
  }
  KeReleaseSpinLock(&g.Lock, irql);
  for (ULONG i = 0; i < nReaders; ++i) {
    PIO_STACK_LOCATION rs = IoGetCurrentIrpStackLocation(readers[i]);
    NTSTATUS status;
    ULONG_PTR size;
    CopyReport(readers[i], readers[i]->UserBuffer, rs->Parameters.DeviceIoControl.OutputBufferLength, r,
               &status, &size);
    Complete(readers[i], status, size);
  }
  return started;
}

// One write may carry several reports back to back: each write costs the feeder
// a round trip through the device's service process.
static NTSTATUS ControlWrite(PIRP irp, PIO_STACK_LOCATION stack) {
  ULONG len = stack->Parameters.Write.Length;
  const UCHAR* bytes = irp->AssociatedIrp.SystemBuffer;
  ULONG count = len > TS4170_REPORT_SIZE ? len / TS4170_REPORT_SIZE : 1;
  if (count > QUEUE_LIMIT) return Complete(irp, STATUS_INVALID_PARAMETER, 0);

  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  // A full queue refuses the reports rather than drop any: the class driver's
  // reader stalls for whole seconds on a busy machine, and the feeder can wait.
  for (LIST_ENTRY* e = g.Devices.Flink; e != &g.Devices; e = e->Flink) {
    DEVICE_STATE* s = CONTAINING_RECORD(e, DEVICE_STATE, Link);
    if (s->Started && !s->Removing && s->Input.Count + count > QUEUE_LIMIT) {
      g.Counters.InputReportsRefused += count;
      KeReleaseSpinLock(&g.Lock, irql);
      return Complete(irp, STATUS_DEVICE_BUSY, 0);
    }
  }
  KeReleaseSpinLock(&g.Lock, irql);
  ULONG started = 0;
  for (ULONG i = 0; i < count; ++i) {
    REPORT r;
    memset(&r, 0, sizeof r);
    const ULONG at = i * TS4170_REPORT_SIZE;
    memcpy(r.Bytes, bytes + at, len - at < TS4170_REPORT_SIZE ? len - at : TS4170_REPORT_SIZE);
    started = Deliver(&r);
  }
  if (!started) return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  return Complete(irp, STATUS_SUCCESS, len);
}

static NTSTATUS ControlRead(PIRP irp, PIO_STACK_LOCATION stack) {
  REPORT r;
  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  if (QueueTake(&g.Output, &r)) {
    KeReleaseSpinLock(&g.Lock, irql);
    NTSTATUS status;
    ULONG_PTR size;
    CopyReport(irp, irp->AssociatedIrp.SystemBuffer, stack->Parameters.Read.Length, &r, &status, &size);
    return Complete(irp, status, size);
  }
  BOOLEAN parked = Park(&g.PendingControlReads, irp);
  KeReleaseSpinLock(&g.Lock, irql);
  return parked ? STATUS_PENDING : Complete(irp, STATUS_CANCELLED, 0);
}

static NTSTATUS ControlIoctl(PIRP irp, PIO_STACK_LOCATION stack) {
  ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
  void* out = irp->AssociatedIrp.SystemBuffer;
  KIRQL irql;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_TS4170_GET_STATE: {
      if (room < sizeof(TS4170_STATE)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      KeAcquireSpinLock(&g.Lock, &irql);
      g.Counters.StartedDevices = 0;
      for (LIST_ENTRY* e = g.Devices.Flink; e != &g.Devices; e = e->Flink) {
        DEVICE_STATE* s = CONTAINING_RECORD(e, DEVICE_STATE, Link);
        if (s->Started && !s->Removing) ++g.Counters.StartedDevices;
      }
      memcpy(out, &g.Counters, sizeof g.Counters);
      KeReleaseSpinLock(&g.Lock, irql);
      return Complete(irp, STATUS_SUCCESS, sizeof(TS4170_STATE));
    }
    case IOCTL_TS4170_GET_LOG: {
      KeAcquireSpinLock(&g.Lock, &irql);
      ULONG n = g.LogLength < room ? g.LogLength : room;
      memcpy(out, g.Log, n);
      memmove(g.Log, g.Log + n, g.LogLength - n);
      g.LogLength -= n;
      KeReleaseSpinLock(&g.Lock, irql);
      return Complete(irp, STATUS_SUCCESS, n);
    }
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

// Ends the collector's waits when its handle goes.
static NTSTATUS ControlCleanup(PIRP irp, PIO_STACK_LOCATION stack) {
  LIST_ENTRY done, keep;
  InitializeListHead(&done);
  InitializeListHead(&keep);
  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  PIRP r;
  while ((r = Unpark(&g.PendingControlReads))) {
    if (IoGetCurrentIrpStackLocation(r)->FileObject == stack->FileObject)
      InsertTailList(&done, &r->Tail.Overlay.ListEntry);
    else
      InsertTailList(&keep, &r->Tail.Overlay.ListEntry);
  }
  while (!IsListEmpty(&keep)) {
    r = CONTAINING_RECORD(RemoveHeadList(&keep), IRP, Tail.Overlay.ListEntry);
    if (!Park(&g.PendingControlReads, r)) InsertTailList(&done, &r->Tail.Overlay.ListEntry);
  }
  KeReleaseSpinLock(&g.Lock, irql);
  while (!IsListEmpty(&done))
    Complete(CONTAINING_RECORD(RemoveHeadList(&done), IRP, Tail.Overlay.ListEntry), STATUS_CANCELLED, 0);
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS Control(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLEANUP:
      return ControlCleanup(irp, stack);
    case IRP_MJ_WRITE:
      return ControlWrite(irp, stack);
    case IRP_MJ_READ:
      return ControlRead(irp, stack);
    case IRP_MJ_DEVICE_CONTROL:
      return ControlIoctl(irp, stack);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

// --- Dispatch ----------------------------------------------------------------

// In front of the class driver's table: the control device's requests and the
// minidriver's own are ours, the rest the class driver's.
static NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  if (device == g.Control) return Control(irp);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  KIRQL irql;
  KeAcquireSpinLock(&g.Lock, &irql);
  DEVICE_STATE* s = FindDevice(device);
  KeReleaseSpinLock(&g.Lock, irql);
  switch (stack->MajorFunction) {
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
      if (s) return HidIoctl(s, irp);
      break;
    case IRP_MJ_POWER:
      PoStartNextPowerIrp(irp);
      if (s) {
        IoSkipCurrentIrpStackLocation(irp);
        return PoCallDriver(((CLASS_DEVICE_EXTENSION*)device->DeviceExtension)->NextDeviceObject, irp);
      }
      // The class driver's child: nothing to power, and a D3 means it is going.
      if (stack->MinorFunction == IRP_MN_SET_POWER && stack->Parameters.Power.Type == DevicePowerState &&
          stack->Parameters.Power.State.DeviceState == PowerDeviceD3)
        FailReadsForChild(device, "child powered down");
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_PNP:
      if (!s &&
          (stack->MinorFunction == IRP_MN_SURPRISE_REMOVAL || stack->MinorFunction == IRP_MN_REMOVE_DEVICE ||
           stack->MinorFunction == IRP_MN_QUERY_REMOVE_DEVICE))
        FailReadsForChild(device, "child removal");
      break;
  }
  PDRIVER_DISPATCH next = g.ClassDispatch[stack->MajorFunction];
  if (next) return next(device, irp);
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link = ControlLink();
  IoDeleteSymbolicLink(&link);
  if (g.Control) IoDeleteDevice(g.Control);
  g.Control = NULL;
  if (g.ClassUnload) g.ClassUnload(driver);
}

// The control device feeds pictures (which an operator may keep as evidence)
// and reads every key: SYSTEM and the administrators only, checked on every
// name opened below the device too. The device is made plainly and given its
// descriptor through a handle of its own, all before anything can open it.
static NTSTATUS ProtectControl(PDEVICE_OBJECT device) {
  SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  // A SID's eight bytes of head and its sub-authorities.
  ULONG system[2 + 1], admins[2 + 2];
  RtlInitializeSid((PSID)system, &nt, 1);
  *RtlSubAuthoritySid((PSID)system, 0) = SECURITY_LOCAL_SYSTEM_RID;
  RtlInitializeSid((PSID)admins, &nt, 2);
  *RtlSubAuthoritySid((PSID)admins, 0) = SECURITY_BUILTIN_DOMAIN_RID;
  *RtlSubAuthoritySid((PSID)admins, 1) = DOMAIN_ALIAS_RID_ADMINS;
  ULONG acl[64];
  SECURITY_DESCRIPTOR sd;
  NTSTATUS status = RtlCreateAcl((PACL)acl, sizeof acl, ACL_REVISION);
  if (NT_SUCCESS(status))
    status = RtlAddAccessAllowedAce((PACL)acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)system);
  if (NT_SUCCESS(status))
    status = RtlAddAccessAllowedAce((PACL)acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)admins);
  if (NT_SUCCESS(status)) status = RtlCreateSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(&sd, TRUE, (PACL)acl, FALSE);
  HANDLE handle = NULL;
  if (NT_SUCCESS(status))
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
  if (!NT_SUCCESS(status)) return status;
  status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, &sd);
  ZwClose(handle);
  return status;
}

static NTSTATUS CreateControl(PDRIVER_OBJECT driver, PUNICODE_STRING name) {
  NTSTATUS status =
      IoCreateDevice(driver, 0, name, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &g.Control);
  if (!NT_SUCCESS(status)) return status;
  status = ProtectControl(g.Control);
  // Better no control device than one anybody may open.
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(g.Control);
    g.Control = NULL;
  }
  return status;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  KeInitializeSpinLock(&g.Lock);
  InitializeListHead(&g.Devices);
  InitializeListHead(&g.PendingControlReads);

  driver->MajorFunction[IRP_MJ_PNP] = FdoPnp;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = Dispatch;
  driver->DriverExtension->AddDevice = AddDevice;
  MINIDRIVER_REGISTRATION reg;
  memset(&reg, 0, sizeof reg);
  reg.Revision = HID_REVISION;
  reg.DriverObject = driver;
  reg.RegistryPath = registryPath;
  reg.DeviceExtensionSize = sizeof(DEVICE_STATE);
  reg.DevicesArePolled = FALSE;
  NTSTATUS status = HidRegisterMinidriver(&reg);
  if (!NT_SUCCESS(status)) return status;

  for (int i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) {
    g.ClassDispatch[i] = driver->MajorFunction[i] == Dispatch ? NULL : driver->MajorFunction[i];
    driver->MajorFunction[i] = Dispatch;
  }
  g.ClassUnload = driver->DriverUnload;
  driver->DriverUnload = Unload;

  UNICODE_STRING name = ControlName(), link = ControlLink();
  status = CreateControl(driver, &name);
  if (!NT_SUCCESS(status)) {
    Log("control device not made (%08lx)", status);
    g.Control = NULL;
    return STATUS_SUCCESS;  // the HID side still works
  }
  g.Control->Flags |= DO_BUFFERED_IO;
  g.Control->Flags &= ~DO_DEVICE_INITIALIZING;
  status = IoCreateSymbolicLink(&link, &name);
  Log("loaded; control link %08lx", status);
  return STATUS_SUCCESS;
}
