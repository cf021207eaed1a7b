// Tests of the POSIX building blocks of safe_file on real files, FIFOs and links.
#include "safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class SafeFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("dhcp-safe-file-" + std::to_string(random()));
    fs::create_directory(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  std::string Read(const char* name) const {
    std::ifstream in(folder_ / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path folder_;
};

TEST_F(SafeFile, FoldersAndFilesThatAreNotPlainAreRefused) {
  fs::create_directory_symlink(folder_, folder_ / "link");
  EXPECT_TRUE(safe_file::OpenFolderNoFollow(folder_, false));
  EXPECT_FALSE(safe_file::OpenFolderNoFollow(folder_ / "link", false));
  EXPECT_FALSE(safe_file::OpenFolderNoFollow(folder_ / "link", true));
  EXPECT_FALSE(safe_file::OpenFolderNoFollow(folder_ / "missing", false));
  EXPECT_TRUE(safe_file::OpenFolderNoFollow(folder_ / "missing", true));  // made now
  EXPECT_TRUE(fs::is_directory(folder_ / "missing"));

  // A FIFO that has a reader opens without blocking; the check of the descriptor refuses it.
  const safe_file::Descriptor folder = safe_file::OpenFolderNoFollow(folder_, false);
  ASSERT_EQ(::mkfifo((folder_ / "fifo").c_str(), 0600), 0);
  const safe_file::Descriptor reader(::open((folder_ / "fifo").c_str(), O_RDONLY | O_NONBLOCK));
  ASSERT_TRUE(reader);
  EXPECT_FALSE(safe_file::OpenRegularForAppend(folder.Get(), "fifo"));
  EXPECT_FALSE(safe_file::AppendRotatingAt(folder.Get(), "fifo", "fifo.1", "x", 100));
  char byte = 0;
  EXPECT_LE(::read(reader.Get(), &byte, 1), 0);  // nothing was written into it
  EXPECT_TRUE(fs::is_fifo(folder_ / "fifo"));

  const safe_file::Descriptor file = safe_file::OpenRegularForAppend(folder.Get(), "new.log");
  ASSERT_TRUE(file);
  EXPECT_EQ(::fcntl(file.Get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

TEST_F(SafeFile, RotationKeepsTheFileWithinItsLimit) {
  const safe_file::Descriptor folder = safe_file::OpenFolderNoFollow(folder_, false);
  ASSERT_TRUE(folder);
  struct Step {
    std::string data;
    std::string now;  // the file afterwards
    std::string old;  // the old file afterwards
  };
  const Step steps[] = {
      {"0123456789ABCDEFGHIJ", "0123456789ABCDEFGHIJ", ""},  // larger than the limit: whole
      {"abc", "abc", "0123456789ABCDEFGHIJ"},
      {"defghij", "abcdefghij", "0123456789ABCDEFGHIJ"},  // exactly at the limit
      {"k", "k", "abcdefghij"},
      {"", "k", "abcdefghij"},
  };
  for (const auto& [data, now, old] : steps) {
    SCOPED_TRACE(data);
    EXPECT_TRUE(safe_file::AppendRotatingAt(folder.Get(), "f.log", "f.log.1", data, 10));
    EXPECT_EQ(Read("f.log"), now);
    EXPECT_EQ(Read("f.log.1"), old);
  }
}

}  // namespace
