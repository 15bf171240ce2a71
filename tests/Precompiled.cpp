// The translation unit that builds the tests' precompiled header.
#include "tests/Precompiled.h"
