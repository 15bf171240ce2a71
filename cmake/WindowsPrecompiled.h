// The platform's headers, which the Windows code includes in nearly every source
// and which cost about as much to compile as the code itself: parsed once per
// tree. The standard library stays out: from a precompiled header, GCC 12 warns
// of false bounds inside std::string's inlined copies at -O3.
#pragma once

#include <windows.h>

#include <commctrl.h>
