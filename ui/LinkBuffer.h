#pragma once
// The link buffer: the screen mirror reads its first half, the link writes its
// second, so it lives below both. Touched by the user interface thread only, so it
// needs no lock.

#include <cstdint>

namespace ts {

// Bytes 0-63: the last screen report copied for drawing; bytes 64-128: the output
// report being built.
inline constexpr int kReceiveBufferSize = 64;
inline constexpr int kOutputBufferSize = 65;
inline uint8_t LinkBuffer[kReceiveBufferSize + kOutputBufferSize] = {};
inline uint8_t* const ReceiveBuffer = LinkBuffer;
inline uint8_t* const OutputBuffer = LinkBuffer + kReceiveBufferSize;

}  // namespace ts
