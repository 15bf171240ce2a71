// The translation unit each precompiled header is built from; the header comes
// from the target (ts_pch in the top CMakeLists.txt).
