// The locator: the marker, then the block's file offset, stamped into the built program.
#include "data/data.h"

// In the initialised data, so the build (and the block writer) can find and set it in the
// file. Volatile: the value in the file, not the compiler's idea of it, is what counts.
extern "C" {
__attribute__((used)) volatile unsigned char g_dataLocator[10] = {0x77, 0x77, 0x67, 0x54, 0x29,
                                                                  0x48, 0,    0,    0,    0};
}

DWORD LocatorOffset() {
  return static_cast<DWORD>(g_dataLocator[6]) | static_cast<DWORD>(g_dataLocator[7]) << 8 |
         static_cast<DWORD>(g_dataLocator[8]) << 16 | static_cast<DWORD>(g_dataLocator[9]) << 24;
}
