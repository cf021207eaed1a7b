// Process entry on POSIX: the launcher's one run; the exit status is the low byte of its code.
#include "launcher/launcher.h"

int main() {
  return RunLauncher();
}
