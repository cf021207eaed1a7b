// Lease files of every engine: shared field parsers and the line-by-line reader.
#include "leases.h"

#include <algorithm>

namespace dhcp_plugin {

namespace {

constexpr std::size_t kMaxHostName = 63;
constexpr std::size_t kMaxDigits = 18;

bool IsHostNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

bool IsPlainHostName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxHostName &&
         std::all_of(name.begin(), name.end(), IsHostNameCharacter);
}

std::optional<std::string> ParseHexBytes(std::string_view text, std::size_t maxBytes) {
  constexpr char kDigits[] = "0123456789abcdef";
  // "xx" and then ":xx" for each further byte.
  if (text.size() % 3 != 2 || (text.size() + 1) / 3 > maxBytes) {
    return std::nullopt;
  }
  std::string hex(text);
  for (std::size_t at = 0; at < hex.size(); at += 3) {
    const int high = HexValue(hex[at]);
    const int low = HexValue(hex[at + 1]);
    if (high < 0 || low < 0 || (at + 2 < hex.size() && hex[at + 2] != ':')) {
      return std::nullopt;
    }
    hex[at] = kDigits[high];
    hex[at + 1] = kDigits[low];
  }
  return hex;
}

std::size_t HexByteCount(std::string_view hex) {
  return (hex.size() + 1) / 3;
}

std::optional<Ipv4> ParseAddress(std::string_view text) {
  if (text.size() > 15) {
    return std::nullopt;
  }
  return ParseDottedQuad(std::u16string(text.begin(), text.end()));
}

std::string Quad(Ipv4 address) {
  return std::to_string(address >> 24U) + "." + std::to_string((address >> 16U) & 0xFFU) + "." +
         std::to_string((address >> 8U) & 0xFFU) + "." + std::to_string(address & 0xFFU);
}

std::optional<std::int64_t> ParseDecimal(std::string_view text) {
  if (text.empty() || text.size() > kMaxDigits) {
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
  }
  return value;
}

std::vector<std::string_view> SplitFields(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find(separator, at);
    fields.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
    if (end == std::string_view::npos) {
      return fields;
    }
    at = end + 1;
  }
}

std::size_t ReadLeaseLines(const DhcpEngine& engine, std::string_view text, bool& first,
                           LeaseTable& table) {
  std::size_t at = 0;
  for (std::size_t end = text.find('\n'); end != std::string_view::npos;
       at = end + 1, end = text.find('\n', at)) {
    const std::string_view line = text.substr(at, end - at);
    if (line.empty()) {
      continue;
    }
    if (!engine.ReadLeaseLine(line, first, table)) {
      ++table.unreadable;
    }
    first = false;
  }
  return at;
}

std::vector<Lease> ActiveLeases(const LeaseTable& table, std::int64_t now) {
  std::vector<Lease> active;
  for (const auto& [address, lease] : table.leases) {
    if (lease.expiry > now) {
      active.push_back(lease);
    }
  }
  return active;
}

LeaseRead ReadLeases(const DhcpEngine& engine, std::string_view text, std::int64_t now) {
  LeaseTable table;
  bool first = true;
  const std::size_t read = ReadLeaseLines(engine, text, first, table);
  if (read < text.size()) {
    ++table.unreadable;
  }
  return {ActiveLeases(table, now), table.unreadable};
}

}  // namespace dhcp_plugin
