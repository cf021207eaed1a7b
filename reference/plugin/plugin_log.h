// The reference plugin's log: one UTF-8 line per event, appended to a fixed file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace dhcp_plugin {

// The log file's name inside the log folder.
inline constexpr char kLogFileName[] = "mekDHCPPluginu.log";
// The one earlier log kept: the log is renamed to it before it would grow beyond kLogRotateBytes.
inline constexpr char kOldLogFileName[] = "mekDHCPPluginu.log.1";
inline constexpr std::uint64_t kLogRotateBytes = 1024 * 1024;

// The log folder: "log" beside the working directory ("..\log" on Windows, "../log" elsewhere).
std::filesystem::path DefaultLogFolder();

// One log line, ending in "\n": "<timestamp> <event>: <text>" in UTF-8. So that one event is
// always one line, every control and line-breaking character of text is spelled out: C0 controls
// and DEL as \xNN, C1 controls (U+0080 to U+009F) and the line and paragraph separators U+2028 and
// U+2029 as \uNNNN. Unpaired surrogates become U+FFFD.
std::string FormatLogLine(std::string_view timestamp, std::string_view event,
                          std::u16string_view text);

// The current UTC time as "YYYY-MM-DDTHH:MM:SSZ", or "-" when the clock cannot be read.
std::string CurrentTimestamp();

// Appends FormatLogLine(CurrentTimestamp(), event, text) to kLogFileName in folder, creating the
// folder (not its parents) when missing, through safe_file::AppendRotating: a log that would grow
// beyond kLogRotateBytes is first renamed to kOldLogFileName. Writes nowhere else: a folder or log
// file that is a symbolic link, a FIFO or anything but a regular file is left alone, and the
// write never blocks. Every failure is ignored, for the log must never fail a request; never
// throws.
void AppendToLog(const std::filesystem::path& folder, std::string_view event,
                 std::u16string_view text) noexcept;

}  // namespace dhcp_plugin
