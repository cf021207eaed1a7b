// Timing of the message-text parser and builder on texts from 4 KiB to 4 MiB in several shapes.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "literal_walk.h"
#include "request/plugin_request.h"

namespace {

// Sizes are in bytes of UTF-16 text: a text of B bytes holds B / 2 code units.
constexpr std::int64_t kBytesPerUnit = sizeof(char16_t);
constexpr std::int64_t kSmallest = std::int64_t{4} << 10;
constexpr std::int64_t kLargest = std::int64_t{4} << 20;

void AllSizes(benchmark::internal::Benchmark* bench) {
  for (const std::int64_t bytes :
       {kSmallest, std::int64_t{64} << 10, std::int64_t{1} << 20, kLargest}) {
    bench->Arg(bytes);
  }
}

// The literal walk is quadratic on the texts it is run on here; 4 MiB would take hours.
void SmallSizes(benchmark::internal::Benchmark* bench) {
  for (const std::int64_t bytes : {kSmallest, std::int64_t{16} << 10, std::int64_t{64} << 10}) {
    bench->Arg(bytes);
  }
}

std::size_t UnitsOf(const benchmark::State& state) {
  return static_cast<std::size_t>(state.range(0) / kBytesPerUnit);
}

// head, then pattern repeated, cut to exactly units code units.
std::u16string Repeat(std::u16string_view head, std::u16string_view pattern, std::size_t units) {
  std::u16string text(head);
  while (text.size() < units) {
    text += pattern;
  }
  text.resize(units);
  return text;
}

// A reply whose bulk is one long message value (which itself holds "="), between a few short
// fields.
std::u16string ReplyWithLongMessage(std::size_t units) {
  const std::u16string_view head =
      u"RunDHCPServer@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=0@@@ZOR_PLUGIN_RESPONSE_MESSAGE=";
  const std::u16string_view tail =
      u"@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=255.255.255.0"
      u"@@@DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER=192.168.0.1"
      u"@@@DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER=3600"
      u"@@@DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER=192.168.0.10-192.168.0.200";
  std::u16string text =
      Repeat(head, u"lease 192.168.0.17 state=bound expires=3600; ", units - tail.size());
  text += tail;
  return text;
}

// A reply whose few key=value fields repeat to the size, so each key's value is replaced many
// times.
std::u16string ReplyWithRepeatedFields(std::size_t units) {
  return Repeat(u"RunDHCPServer",
                u"@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=0"
                u"@@@ZOR_PLUGIN_RESPONSE_MESSAGE=DHCP server started on 192.168.0.1"
                u"@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=255.255.255.0"
                u"@@@DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER=192.168.0.1"
                u"@@@DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER=3600",
                units);
}

// No field has "=": each one stores the whole text before its separator under the empty key.
std::u16string FieldsWithoutEquals(std::size_t units) {
  return Repeat(u"N", u"@@@abc", units);
}

// As above with one "=" as the very last unit: every field's key reaches to it, so each of the
// first 100 fields stores a distinct key almost as long as the text.
std::u16string FieldsWithoutEqualsButOneAtEnd(std::size_t units) {
  std::u16string text = FieldsWithoutEquals(units - 1);
  text += u'=';
  return text;
}

// One run of "@": every unit after the first three opens one more field.
std::u16string RunOfAtSigns(std::size_t units) {
  return Repeat(u"N", u"@", units);
}

// Distinct keys of one length, far more than the table holds: all past the 100th are compared
// against every stored key and dropped.
std::u16string ManyDistinctKeys(std::size_t units) {
  std::u16string text = u"N";
  for (std::uint32_t i = 0; text.size() < units; ++i) {
    std::u16string key = u"@@@k0000000=v";
    for (std::uint32_t n = i, at = 10; n > 0 && at >= 4; n /= 10, --at) {
      key[at] = static_cast<char16_t>(u'0' + n % 10);
    }
    text += key;
  }
  text.resize(units);
  return text;
}

using MakeText = std::u16string (*)(std::size_t units);

void ReportBytes(benchmark::State& state, std::size_t units) {
  const auto bytes = static_cast<std::int64_t>(units) * kBytesPerUnit;
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["time_per_byte"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

// Parses the text into a record and destroys it; the copy the constructor takes is part of the
// cost. stored_bytes is the size of the record's parameter text, which far exceeds the input when
// keys reach across fields.
void Parse(benchmark::State& state, MakeText make) {
  const std::u16string text = make(UnitsOf(state));
  int params = 0;
  for (auto _ : state) {
    const CPluginRequest record(text);
    params = record.CountParams();
    benchmark::DoNotOptimize(params);
  }
  state.counters["params"] = params;
  state.counters["stored_bytes"] = static_cast<double>(
      static_cast<std::int64_t>(CPluginRequest(text).BuildParamText().size()) * kBytesPerUnit);
  ReportBytes(state, text.size());
}

// The same texts through the literal, rescanning walk, for comparison.
void ParseLiterally(benchmark::State& state, MakeText make) {
  const std::u16string text = make(UnitsOf(state));
  int params = 0;
  for (auto _ : state) {
    const literal::Parsed parsed = literal::Parse(text);
    params = parsed.table.CountParams();
    benchmark::DoNotOptimize(params);
  }
  state.counters["params"] = params;
  ReportBytes(state, text.size());
}

// A full table of 100 short keys whose values share out the rest of the size.
void BuildFullTable(benchmark::State& state) {
  constexpr std::size_t kFieldOverhead = 3 + 3 + 1;  // separator, key "Knn", "="
  const std::size_t units = UnitsOf(state);
  const std::u16string name = u"RunDHCPServer";
  CPluginRequest request;
  request.SetRequestName(name);
  const std::size_t valueUnits =
      (units - name.size() - kFieldOverhead * CParamTable::kCapacity) / CParamTable::kCapacity;
  for (int i = 0; i < CParamTable::kCapacity; ++i) {
    const std::u16string key = {u'K', static_cast<char16_t>(u'0' + i / 10),
                                static_cast<char16_t>(u'0' + i % 10)};
    request.SetParam(key, std::u16string(valueUnits, static_cast<char16_t>(u'a' + i % 26)));
  }
  int emptyName = 0;
  std::size_t built = 0;
  for (auto _ : state) {
    const std::u16string text = request.BuildRequestText(emptyName);
    built = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["params"] = request.CountParams();
  ReportBytes(state, built);
}

}  // namespace

BENCHMARK_CAPTURE(Parse, reply_long_message, &ReplyWithLongMessage)->Apply(AllSizes);
BENCHMARK_CAPTURE(Parse, reply_repeated_fields, &ReplyWithRepeatedFields)->Apply(AllSizes);
BENCHMARK_CAPTURE(Parse, fields_without_equals, &FieldsWithoutEquals)->Apply(AllSizes);
BENCHMARK_CAPTURE(Parse, fields_without_equals_one_at_end, &FieldsWithoutEqualsButOneAtEnd)
    ->Apply(AllSizes);
BENCHMARK_CAPTURE(Parse, run_of_at_signs, &RunOfAtSigns)->Apply(AllSizes);
BENCHMARK_CAPTURE(Parse, many_distinct_keys, &ManyDistinctKeys)->Apply(AllSizes);
BENCHMARK(BuildFullTable)->Apply(AllSizes);
BENCHMARK_CAPTURE(ParseLiterally, fields_without_equals, &FieldsWithoutEquals)->Apply(SmallSizes);
BENCHMARK_CAPTURE(ParseLiterally, fields_without_equals_one_at_end, &FieldsWithoutEqualsButOneAtEnd)
    ->Apply(SmallSizes);
