#pragma once
// Resource IDs shared by the resource scripts and the code that loads them.

#define TS_PROGRAM_ICON 1
