// A stand-in component (Windows) whose "DllRegisterServer" succeeds only when the process's error
// mode keeps the system's error dialogs away, so that a launcher run shows whether it set it.
#include <windows.h>

#include <cstdint>

#include "record.h"

STAND_IN_COMPONENT_EXPORT std::int32_t DllRegisterServer() {
  RecordRegistration();
  const UINT silent = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
  // S_OK, or E_FAIL (a negative HRESULT, so the launcher ends with -4).
  return (GetErrorMode() & silent) == silent ? 0
                                             : static_cast<std::int32_t>(std::uint32_t{0x80004005});
}
