// Plugin invocation with a FIFO in place of the plugin library: refused at once, never waited on.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <random>
#include <string>

#include "request/plugin_request.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(Execute, RefusesAFifoInPlaceOfThePluginWithoutWaiting) {
  const fs::path folder =
      fs::temp_directory_path() / ("dhcp_fifo_test_" + std::to_string(std::random_device{}()));
  fs::create_directories(folder);
  const fs::path fifo = folder / "mekDHCPPluginu.dll";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  CPluginRequest request;
  request.SetRequestName(u"RunDHCPServer");
  request.SetPluginPath(fifo.u16string());
  std::u16string reply = u"reply left alone";
  auto status = std::async(std::launch::async, [&] { return request.Execute(reply); });
  if (status.wait_for(10s) != std::future_status::ready) {
    ADD_FAILURE() << "Execute waits on the FIFO";
    // Unblock the waiting open: a writer that comes and goes gives the reader an empty file.
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) {
      ::close(writer);
    }
  }
  EXPECT_EQ(status.get(), 2);
  EXPECT_EQ(reply, u"reply left alone");
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace
