#pragma once
// What the program sends to the instrument: output reports of 65 bytes, report ID
// first, 16-bit fields low byte first.

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/Ts4170Protocol.h"

namespace ts::sim {

inline constexpr uint8_t kCommandReportId = TS4170_COMMAND_REPORT_ID;
inline constexpr uint8_t kMessageReportId = TS4170_MESSAGE_REPORT_ID;
inline constexpr uint8_t kMessageMarker1 = 0x55;
inline constexpr uint8_t kMessageMarker2 = 0xAA;
inline constexpr size_t kMessageTextOffset = 9;
inline constexpr size_t kMessageTextSize = 56;

inline constexpr uint16_t kCodeKey = TS4170_CMD_KEY;
inline constexpr uint16_t kCodeRestart = TS4170_CMD_RESTART;
inline constexpr uint16_t kCodeLock = TS4170_CMD_LOCK;
inline constexpr uint16_t kCodeUnlock = TS4170_CMD_UNLOCK;
inline constexpr uint16_t kCodeSound = TS4170_CMD_SOUND;
inline constexpr uint16_t kCodeParameter = TS4170_CMD_PARAMETER;

inline constexpr uint16_t kParamGain = TS4170_PARAM_GAIN;
inline constexpr uint16_t kParamScreenWidth = TS4170_PARAM_SCREEN_WIDTH;
inline constexpr uint16_t kParamUnits = TS4170_PARAM_UNITS;  // 0-3, index into kUnitNames

inline constexpr uint16_t kKeyEnter = 0x0001;
inline constexpr uint16_t kKeyF4 = 0x0002;
inline constexpr uint16_t kKeyDown = 0x0004;
inline constexpr uint16_t kKeyLeft = 0x0008;
inline constexpr uint16_t kKeyUp = 0x0010;
inline constexpr uint16_t kKeyRight = 0x0020;
inline constexpr uint16_t kKeyRightScreen = 0x0040;
inline constexpr uint16_t kKeyF2 = 0x0080;
inline constexpr uint16_t kKeyF1 = 0x0100;
inline constexpr uint16_t kKeyLeftScreen = 0x0200;
inline constexpr uint16_t kKeyTesting = 0x0400;
inline constexpr uint16_t kKeySettings = 0x0800;
inline constexpr uint16_t kKeyHelp = 0x1000;
inline constexpr uint16_t kKeyData = 0x2000;
inline constexpr uint16_t kKeyF3 = 0x4000;

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
