// What most test sources include, parsed once per tree: GoogleTest's headers
// cost more to compile than the tests themselves. No <windows.h>: its macros
// would rename portable names (DrawText, MessageBox) in the portable tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>
