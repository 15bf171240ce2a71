#pragma once
// Process-wide state shared by the link and the screen mirror. Touched by the user
// interface thread only, so it needs no lock.

#include <cstdint>

namespace ts {

// Bytes 0-63: the last screen report copied for drawing; bytes 64-128: the output
// report being built.
inline constexpr int kReceiveBufferSize = 64;
inline constexpr int kOutputBufferSize = 65;
inline uint8_t LinkBuffer[kReceiveBufferSize + kOutputBufferSize] = {};
inline uint8_t* const ReceiveBuffer = LinkBuffer;
inline uint8_t* const OutputBuffer = LinkBuffer + kReceiveBufferSize;

// Input-report data bytes of the current device since the last rate tick.
inline int32_t ReceivedBytes = 0;

}  // namespace ts
