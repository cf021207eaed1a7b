// Process entry on Windows: a GUI-subsystem program without a window that runs the launcher once.
#include <windows.h>

#include "launcher/launcher.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*showCode*/) {
  return RunLauncher();
}
