// Lease files of every engine: the pieces their formats share, reading a file's text line by line
// through its engine, and which of the leases read are still running.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dhcp_engine.h"

namespace dhcp_plugin {

// Whether a host name may cross into another engine's lease file: 1 to 63 of [A-Za-z0-9.-]. A
// client chooses its name, and a blank, "," or line break in it could forge a record there.
bool IsPlainHostName(std::string_view name);

// Bytes written as two hex digits each (either letter case) joined by ":", 1 to maxBytes of them,
// in the form Lease holds them (lowercase); nothing for any other text.
std::optional<std::string> ParseHexBytes(std::string_view text, std::size_t maxBytes);

// The number of bytes of a text in Lease's hex form.
std::size_t HexByteCount(std::string_view hex);

// The longest hardware address and client identifier a lease file holds, in bytes.
inline constexpr std::size_t kMaxHardwareBytes = 16;
inline constexpr std::size_t kMaxClientIdBytes = 255;

// A strict dotted quad (as ParseDottedQuad), as engines write addresses.
std::optional<Ipv4> ParseAddress(std::string_view text);

// address as a dotted quad, as engines' lease files and configurations write it.
std::string Quad(Ipv4 address);

// A decimal number of 1 to 18 ASCII digits and nothing else.
std::optional<std::int64_t> ParseDecimal(std::string_view text);

// text cut at each separator.
std::vector<std::string_view> SplitFields(std::string_view text, char separator);

// Reads the whole lines of text, a part of one of engine's lease files, into table (first says
// the part begins the file, and is cleared after its first line); a line that is empty is
// skipped. Returns the bytes read: text up to and with its last "\n".
std::size_t ReadLeaseLines(const DhcpEngine& engine, std::string_view text, bool& first,
                           LeaseTable& table);

// The leases of table still running at now (their expiry after it), by address.
std::vector<Lease> ActiveLeases(const LeaseTable& table, std::int64_t now);

// What the whole text of one of engine's lease files holds: the leases running at now, and how
// many of its lines are no record of that engine. A last line without its "\n" was cut short and
// counts among them.
struct LeaseRead {
  std::vector<Lease> leases;
  std::size_t unreadable = 0;
};
LeaseRead ReadLeases(const DhcpEngine& engine, std::string_view text, std::int64_t now);

}  // namespace dhcp_plugin
