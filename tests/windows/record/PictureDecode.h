#pragma once
// Pictures the export wrote, decoded back through the imaging component: what
// the tests compare with the frames that were sent.

#include <string>
#include <vector>

#include "record/PictureExport.h"

namespace ts {

// The pixels, and the value WIC's metadata reader gives for each keyword asked
// for in `texts` (those it cannot find are dropped).
TPixels LoadPng(const std::wstring& fileName, std::vector<TPngText>* texts);
// Every frame of a GIF, with the delays WIC's reader finds (0 where it finds none).
std::vector<TPixels> LoadGif(const std::wstring& fileName, std::vector<int>* delays);

}  // namespace ts
