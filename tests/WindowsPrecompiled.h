// The Windows tests' precompiled header: GoogleTest's headers, the standard
// library's and the platform's.
#pragma once

#include "cmake/WindowsPrecompiled.h"
#include "tests/Precompiled.h"
