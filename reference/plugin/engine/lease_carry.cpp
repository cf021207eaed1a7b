// Carrying leases from the engine that served last into the lease file of the engine starting.
#include "lease_carry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "engines.h"
#include "leases.h"

namespace dhcp_plugin {

namespace {

constexpr std::size_t kChunk = 1 << 16;
// A line longer than this is no record of any engine; it is skipped, not held in memory.
constexpr std::size_t kMaxLine = 1 << 16;
constexpr int kKeepTries = 100;

EngineResult Fail(std::u16string message) {
  return {kStateFolderUnsafe, std::move(message)};
}

std::u16string Counted(std::size_t count, const char16_t* one, const char16_t* many) {
  return DecimalText(count) + u" " + (count == 1 ? one : many);
}

// One lease file as read: its name, and how many of its lines are no record.
struct FileRead {
  std::string name;
  std::size_t unreadable = 0;
};

// Reads the lease file name of engine in folder into table, in parts. A file that is no regular
// file or fails to read counts as one line that cannot be read.
FileRead ReadLeaseFile(int folder, const DhcpEngine& engine, const std::string& name,
                       LeaseTable& table) {
  FileRead file{name};
  const Fd fd(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!static_cast<bool>(fd) || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    file.unreadable = 1;
    return file;
  }
  const std::size_t before = table.unreadable;
  table.columns.clear();
  std::string pending;
  std::array<char, kChunk> chunk{};
  bool first = true;
  bool skipping = false;  // within an overlong line, until its end
  for (;;) {
    const ssize_t got = read(fd.Get(), chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      ++table.unreadable;
      break;
    }
    if (got == 0) {
      break;
    }
    std::string_view part(chunk.data(), static_cast<std::size_t>(got));
    if (skipping) {
      const std::size_t end = part.find('\n');
      if (end == std::string_view::npos) {
        continue;
      }
      part.remove_prefix(end + 1);
      skipping = false;
    }
    pending.append(part);
    pending.erase(0, ReadLeaseLines(engine, pending, first, table));
    if (pending.size() > kMaxLine) {
      ++table.unreadable;
      pending.clear();
      skipping = true;
    }
  }
  if (!pending.empty()) {
    ++table.unreadable;  // a last line without its end: the file was cut short
  }
  file.unreadable = table.unreadable - before;
  return file;
}

bool Exists(int folder, const std::string& name) {
  struct stat info {};
  return fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// Reads every lease file of engine in folder into table, in the order the engine reads them.
std::vector<FileRead> ReadLeaseFiles(int folder, const DhcpEngine& engine, LeaseTable& table) {
  std::vector<FileRead> files;
  for (const std::string& name :
       engine.LeaseFiles([&](const std::string& file) { return Exists(folder, file); })) {
    if (Exists(folder, name)) {
      files.push_back(ReadLeaseFile(folder, engine, name, table));
    }
  }
  return files;
}

// The engine that served last: the one whose lease file the marker names; without a marker the
// one whose lease file changed last; nullptr when there is none.
const DhcpEngine* LastEngine(int folder) {
  std::string marker;
  if (ReadFileAt(folder, kCurrentLeasesName, marker)) {
    marker.erase(marker.find_last_not_of('\n') + 1);
    for (const DhcpEngine* engine : Engines()) {
      if (engine->LeaseName() == marker) {
        return engine;
      }
    }
  }
  const DhcpEngine* newest = nullptr;
  timespec newestTime{};
  for (const DhcpEngine* engine : Engines()) {
    struct stat info {};
    if (fstatat(folder, std::string(engine->LeaseName()).c_str(), &info, AT_SYMLINK_NOFOLLOW) ==
            0 &&
        (newest == nullptr || info.st_mtim.tv_sec > newestTime.tv_sec ||
         (info.st_mtim.tv_sec == newestTime.tv_sec && info.st_mtim.tv_nsec > newestTime.tv_nsec))) {
      newest = engine;
      newestTime = info.st_mtim;
    }
  }
  return newest;
}

// Gives the file name a second name "NAME.unreadable-YYYYMMDD-HHMMSS[-N]" that no file had;
// returns it, or "" when none could be made (errno says why).
std::string KeepAside(int folder, const std::string& name, std::int64_t now) {
  const auto seconds = static_cast<std::time_t>(now);
  std::tm utc{};
  std::array<char, 32> stamp{};
  if (gmtime_r(&seconds, &utc) == nullptr ||
      std::strftime(stamp.data(), stamp.size(), "%Y%m%d-%H%M%S", &utc) == 0) {
    stamp = {'0'};
  }
  const std::string base = name + ".unreadable-" + stamp.data();
  for (int n = 1; n <= kKeepTries; ++n) {
    std::string kept = n == 1 ? base : base + "-" + std::to_string(n);
    if (linkat(folder, name.c_str(), folder, kept.c_str(), 0) == 0) {
      return kept;
    }
    if (errno != EEXIST) {
      return "";
    }
  }
  return "";
}

std::u16string Why() {
  return u" (" + WidenText(std::strerror(errno)) + u")";
}

}  // namespace

LeaseRead ReadEngineLeases(int folder, const DhcpEngine& engine, std::int64_t now) {
  LeaseTable table;
  std::size_t unreadable = 0;
  for (const FileRead& file : ReadLeaseFiles(folder, engine, table)) {
    unreadable += file.unreadable;
  }
  return {ActiveLeases(table, now), unreadable};
}

EngineResult CarryLeases(const StateFolder& folder, const DhcpEngine& engine,
                         const ServeSettings& settings, std::int64_t now) {
  const int dir = folder.fd.Get();
  const DhcpEngine* last = LastEngine(dir);
  const DhcpEngine& source = last != nullptr ? *last : engine;
  const std::string target(engine.LeaseName());

  LeaseTable table;
  const std::vector<FileRead> files = ReadLeaseFiles(dir, source, table);
  std::vector<Lease> inside;
  std::size_t outside = 0;
  for (Lease& lease : ActiveLeases(table, now)) {
    if (lease.address >= settings.first && lease.address <= settings.last) {
      inside.push_back(std::move(lease));
    } else {
      ++outside;
    }
  }

  std::u16string said;
  std::vector<std::string> kept;
  for (const FileRead& file : files) {
    if (file.unreadable == 0) {
      continue;
    }
    const std::string aside = KeepAside(dir, file.name, now);
    if (aside.empty()) {
      return Fail(u"The lease file " + Quoted(file.name) +
                  u" holds lines that cannot be read, and it could not be kept aside in " +
                  Quoted(folder.path) + Why() + u"; nothing was started.");
    }
    kept.push_back(file.name);
    said += u" " + Counted(file.unreadable, u"line", u"lines") + u" of the lease file " +
            Quoted(file.name) + u" could not be read (cut short or edited by hand); the file was " +
            u"kept as " + Quoted(aside) + u".";
  }

  // Expired records count too: dnsmasq keeps them in its file until it next writes it.
  const bool strayRecords =
      std::any_of(table.leases.begin(), table.leases.end(), [&](const auto& entry) {
        return entry.first < settings.first || entry.first > settings.last;
      });
  const bool switched = &source != &engine;
  if (switched || !kept.empty() || strayRecords) {
    if (!WriteFileAt(dir, target, engine.WriteLeases(inside, now), Durability::kSynced)) {
      return Fail(u"The leases could not be written to " + Quoted(target) + u" in " +
                  Quoted(folder.path) + Why() +
                  u"; nothing was started, for the server would give addresses that clients "
                  u"hold.");
    }
    for (const std::string& side : engine.LeaseSideFiles()) {
      unlinkat(dir, side.c_str(), 0);
    }
    if (switched) {
      for (const std::string& name : kept) {
        unlinkat(dir, name.c_str(), 0);
      }
      said += u" " + Counted(inside.size(), u"running lease was", u"running leases were") +
              u" carried over from " + std::u16string(source.Name()) + u" to " +
              std::u16string(engine.Name()) + u".";
    } else {
      said += u" The lease file was written anew with its " +
              Counted(inside.size(), u"running lease.", u"running leases.");
    }
    if (outside > 0) {
      said += u" " + Counted(outside, u"lease", u"leases") + u" outside the new range " +
              (outside == 1 ? u"was" : u"were") + u" left out.";
    }
  }

  std::string marker;
  if (!ReadFileAt(dir, kCurrentLeasesName, marker) || marker != target + "\n") {
    if (!WriteFileAt(dir, kCurrentLeasesName, target + "\n", Durability::kSynced)) {
      return Fail(u"The lease marker " + Quoted(kCurrentLeasesName) + u" could not be written in " +
                  Quoted(folder.path) + Why() + u"; nothing was started.");
    }
  }
  return {kSettingsSound, said};
}

}  // namespace dhcp_plugin
