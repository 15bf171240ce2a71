#pragma once
/* The instrument's USB protocol as the program, the simulator, the HID driver
   stand-in, the tests and the benchmarks all see it. Plain C, so the driver can
   include it too. Every report is 65 bytes: the report ID, then 64 data bytes;
   16-bit fields low byte first. */

/* The instrument's USB identity. */
#define TS4170_VENDOR_ID 0x5555
#define TS4170_PRODUCT_ID 0x4170

/* Report IDs: the screen report comes in, commands and screen messages go out. */
#define TS4170_INPUT_REPORT_ID 0x01
#define TS4170_COMMAND_REPORT_ID 0x0F
#define TS4170_MESSAGE_REPORT_ID 0x07
#define TS4170_REPORT_SIZE 65
#define TS4170_REPORT_DATA_SIZE 64

/* The screen report, by its data bytes (report ID excluded): 60 bytes of pixels,
   one bit each, most significant bit leftmost, then the line group (0-79, three
   screen lines each) and which half of the group's 960 pixels they are (0 or 1);
   the last two bytes are zero. Line group 0 presents the frame. Any input report
   of this shape is a screen report, whatever its ID. */
#define TS4170_SCREEN_PIXEL_BYTES 60
#define TS4170_SCREEN_GROUP_BYTE 60
#define TS4170_SCREEN_HALF_BYTE 61
#define TS4170_SCREEN_LINE_GROUPS 80
#define TS4170_SCREEN_LINES_PER_GROUP 3
#define TS4170_SCREEN_REPORTS_PER_FRAME (TS4170_SCREEN_LINE_GROUPS * 2)

/* Command codes, the first field of a command report. */
#define TS4170_CMD_KEY 0xAAEE
#define TS4170_CMD_RESTART 0xAAAA
#define TS4170_CMD_LOCK 0xAA11
#define TS4170_CMD_UNLOCK 0xAA22
#define TS4170_CMD_SOUND 0xAA33
#define TS4170_CMD_PARAMETER 0xAA44

/* Parameters of TS4170_CMD_PARAMETER. */
#define TS4170_PARAM_GAIN 0x2C0D         /* hundredths of a decibel */
#define TS4170_PARAM_SCREEN_WIDTH 0x215D /* tenths of a microsecond */
#define TS4170_PARAM_UNITS 0x33E5        /* index of the unit item */

/* The pipe that stands in for USB: one message a report, each of this size.
   Narrow; prefix L"" for the wide form. */
#define TS4170_PIPE_NAME "\\\\.\\pipe\\TS4170"
#define TS4170_PIPE_MESSAGE_SIZE TS4170_REPORT_SIZE
