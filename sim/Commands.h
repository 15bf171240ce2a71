#pragma once
// What the program sends to the instrument: output reports, report ID first,
// 16-bit fields low byte first.

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/Ts4170Protocol.h"

namespace ts::sim {

inline constexpr uint8_t kCommandReportId = TS4170_COMMAND_REPORT_ID;
inline constexpr uint8_t kMessageReportId = TS4170_MESSAGE_REPORT_ID;
inline constexpr uint8_t kMessageMarker1 = TS4170_MESSAGE_MARKER_1;
inline constexpr uint8_t kMessageMarker2 = TS4170_MESSAGE_MARKER_2;
inline constexpr unsigned kMessageTicksPerSecond = TS4170_MESSAGE_TICKS_PER_SECOND;
inline constexpr size_t kMessageTextOffset = TS4170_MESSAGE_TEXT_OFFSET;
inline constexpr size_t kMessageTextSize = TS4170_MESSAGE_TEXT_SIZE;

inline constexpr uint16_t kCodeKey = TS4170_CMD_KEY;
inline constexpr uint16_t kCodeRestart = TS4170_CMD_RESTART;
inline constexpr uint16_t kCodeLock = TS4170_CMD_LOCK;
inline constexpr uint16_t kCodeUnlock = TS4170_CMD_UNLOCK;
inline constexpr uint16_t kCodeSound = TS4170_CMD_SOUND;
inline constexpr uint16_t kCodeParameter = TS4170_CMD_PARAMETER;

inline constexpr uint16_t kParamGain = TS4170_PARAM_GAIN;
inline constexpr uint16_t kParamScreenWidth = TS4170_PARAM_SCREEN_WIDTH;
inline constexpr uint16_t kParamUnits = TS4170_PARAM_UNITS;  // 0-3, index into kUnitNames

inline constexpr uint16_t kKeyEnter = TS4170_KEY_ENTER;
inline constexpr uint16_t kKeyF4 = TS4170_KEY_F4;
inline constexpr uint16_t kKeyDown = TS4170_KEY_DOWN;
inline constexpr uint16_t kKeyLeft = TS4170_KEY_LEFT;
inline constexpr uint16_t kKeyUp = TS4170_KEY_UP;
inline constexpr uint16_t kKeyRight = TS4170_KEY_RIGHT;
inline constexpr uint16_t kKeyRightScreen = TS4170_KEY_RIGHT_SCREEN;
inline constexpr uint16_t kKeyF2 = TS4170_KEY_F2;
inline constexpr uint16_t kKeyF1 = TS4170_KEY_F1;
inline constexpr uint16_t kKeyLeftScreen = TS4170_KEY_LEFT_SCREEN;
inline constexpr uint16_t kKeyTesting = TS4170_KEY_TESTING;
inline constexpr uint16_t kKeySettings = TS4170_KEY_SETTINGS;
inline constexpr uint16_t kKeyHelp = TS4170_KEY_HELP;
inline constexpr uint16_t kKeyData = TS4170_KEY_DATA;
inline constexpr uint16_t kKeyF3 = TS4170_KEY_F3;

// The markup units as the program names them: microseconds, then three
// millimetre scales told apart by their last letter (Latin H, Latin X, Cyrillic Н).
inline constexpr const char* kUnitNames[4] = {"мкс", "ммH", "ммX", "ммН"};

// The key's name for the screen and the log; empty for a mask that is not
// exactly one key's bit.
std::string KeyName(uint16_t mask);

// One line for the command log: the report's first bytes in hex and what they
// mean. Reads at most `size` bytes.
std::string DescribeOutputReport(const uint8_t* report, size_t size);

}  // namespace ts::sim
