// Process entry on Windows: a GUI-subsystem program without a window that runs the launcher once.
#include <windows.h>

#include "launcher/launcher.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*showCode*/) {
  // A silent program: a crash or a failed load inside a plugin or component must end or fail
  // without the system's error dialog, which no one would be there to close.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  return RunLauncher();
}
