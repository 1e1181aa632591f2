#include <stddef.h>
#include <windows.h>

#include "app/run.h"

// The load configuration that the linker points the image at. Its one setting is the
// dependent-load flags (the field that older headers call Reserved1): the libraries
// that the import table names come from the System folder only, never from the
// program's own folder, which may be writable by others. Kept to the fields up to the
// security cookie, so no exception-handler table is declared.
extern "C" __attribute__((used)) const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used = {
    offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, SEHandlerTable),
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    LOAD_LIBRARY_SEARCH_SYSTEM32,
    0,
    0,
    0,
    0};
static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, Reserved1) ==
                  (sizeof(void *) == 4 ? 0x36 : 0x4E),
              "the dependent-load flags stand where the loader reads them");

// The entry point itself: the program needs nothing of the C runtime's start-up (no
// constructors, no stdio, no threads of its own), which was about a sixth of the stub.
// The argument text is taken from the full command line: the runtime's would stop
// skipping the program's name at the first byte above 0x7F, so an unquoted path with a
// non-ASCII letter would hide the switches.
extern "C" void StubEntry() {
  ExitProcess(
      static_cast<UINT>(RunUninstall(GetModuleHandleA(nullptr), ArgumentText(GetCommandLineA()))));
}
