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
#define TS4170_SCREEN_WIDTH 320
#define TS4170_SCREEN_HEIGHT (TS4170_SCREEN_LINE_GROUPS * TS4170_SCREEN_LINES_PER_GROUP)
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

/* Key masks, the first argument of TS4170_CMD_KEY: one bit a key; bit 15 is no
   key's. */
#define TS4170_KEY_ENTER 0x0001
#define TS4170_KEY_F4 0x0002
#define TS4170_KEY_DOWN 0x0004
#define TS4170_KEY_LEFT 0x0008
#define TS4170_KEY_UP 0x0010
#define TS4170_KEY_RIGHT 0x0020
#define TS4170_KEY_RIGHT_SCREEN 0x0040
#define TS4170_KEY_F2 0x0080
#define TS4170_KEY_F1 0x0100
#define TS4170_KEY_LEFT_SCREEN 0x0200
#define TS4170_KEY_TESTING 0x0400
#define TS4170_KEY_SETTINGS 0x0800
#define TS4170_KEY_HELP 0x1000
#define TS4170_KEY_DATA 0x2000
#define TS4170_KEY_F3 0x4000

/* The message report, by its bytes (report ID included): the two markers, X and
   Y, the time shown in ticks (the low 16 bits of seconds times the ticks a
   second), then the Windows-1251 text, zero-padded, with no terminator when it
   fills its field. */
#define TS4170_MESSAGE_MARKER_1 0x55
#define TS4170_MESSAGE_MARKER_2 0xAA
#define TS4170_MESSAGE_TICKS_PER_SECOND 50
#define TS4170_MESSAGE_TEXT_OFFSET 9
#define TS4170_MESSAGE_TEXT_SIZE (TS4170_REPORT_SIZE - TS4170_MESSAGE_TEXT_OFFSET)

/* Parameters of TS4170_CMD_PARAMETER. */
#define TS4170_PARAM_GAIN 0x2C0D         /* hundredths of a decibel */
#define TS4170_PARAM_SCREEN_WIDTH 0x215D /* tenths of a microsecond */
#define TS4170_PARAM_UNITS 0x33E5        /* index of the unit item */

/* The pipe that stands in for USB: one message a report, each of this size.
   Narrow; prefix L"" for the wide form. */
#define TS4170_PIPE_NAME "\\\\.\\pipe\\TS4170"
#define TS4170_PIPE_MESSAGE_SIZE TS4170_REPORT_SIZE
