// The reference plugin's log: one UTF-8 line per event, appended to a fixed file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace dhcp_plugin {

// The log file's name inside the log folder.
inline constexpr char kLogFileName[] = "mekDHCPPluginu.log";

// The log folder: "log" beside the working directory ("..\log" on Windows, "../log" elsewhere).
std::filesystem::path DefaultLogFolder();

// One log line, ending in "\n": "<timestamp> <event>: <text>" in UTF-8. Control characters of
// text are written as \xNN (so one event is always one line) and unpaired surrogates as U+FFFD.
std::string FormatLogLine(std::string_view timestamp, std::string_view event,
                          std::u16string_view text);

// The current UTC time as "YYYY-MM-DDTHH:MM:SSZ", or "-" when the clock cannot be read.
std::string CurrentTimestamp();

// Appends FormatLogLine(CurrentTimestamp(), event, text) to kLogFileName in folder, creating the
// folder (not its parents) when missing. Writes nowhere else: when the log file is a symbolic link
// it is left alone. Every failure is ignored, for the log must never fail a request; never throws.
void AppendToLog(const std::filesystem::path& folder, std::string_view event,
                 std::u16string_view text) noexcept;

}  // namespace dhcp_plugin
