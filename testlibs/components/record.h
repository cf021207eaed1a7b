// Shared by the stand-in components: the export macro and the record of a registration call.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "record_format.h"

#if defined(_WIN32)
#define STAND_IN_COMPONENT_EXPORT extern "C" __declspec(dllexport)
#else
#define STAND_IN_COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Appends the line "DllRegisterServer" to the record file (record_format.h), when one is named,
// so a test can tell that registration happened and in which order against the plugin's calls.
inline void RecordRegistration() {
  const char* path = std::getenv(test_support::kRecordFileVariable);
  if (path == nullptr || *path == '\0') {
    return;
  }
  if (std::FILE* file = std::fopen(path, "ab")) {
    std::fputs(test_support::kRegistrationLine, file);
    std::fputs("\n", file);
    std::fclose(file);
  }
}
