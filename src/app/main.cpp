#include <windows.h>

#include "app/run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  return RunUninstall(instance, commandLine);
}
