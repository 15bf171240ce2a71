#pragma once
// What the server and the page's script say to each other over a viewer's
// WebSocket, written down in docs/browser-protocol.md; the script names the
// same values.

#include <cstddef>
#include <cstdint>

#include "screen/ScreenLayout.h"

namespace ts {

// A picture message: flags, rate, present count, then either the whole picture
// or a mask of the rows that changed since the viewer's last picture and those rows.
inline constexpr size_t kPictureFlagsAt = 0, kPictureRateAt = 1, kPicturePresentsAt = 5;
inline constexpr size_t kPictureHeader = 1 + 4 + 4;
inline constexpr uint8_t kPictureLinked = 1, kPictureChangedRows = 2;
inline constexpr size_t kPictureRowMaskBytes = kScreenHeight / 8;

inline constexpr char kViewerSocketPath[] = "/ws";
// "key N": a press of the keypad's key N.
inline constexpr char kKeyPressPrefix[] = "key ";
inline constexpr char kTooManyViewers[] = "too many viewers";

}  // namespace ts
