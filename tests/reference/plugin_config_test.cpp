// Tests of the reference plugin's own settings: read once into typed values.
#include "plugin_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "temp_folder.h"
#include "utf16.h"

namespace fs = std::filesystem;
using namespace dhcp_plugin;

namespace {

TEST(PluginSettings, EngineSectionReadsWithDefaults) {
  const test_support::TempFolder folder("dhcp-plugin-config-");
  const fs::path file = folder.path() / "mekDHCPPluginu.ini";
  const std::u16string path = file.u16string();
  const struct {
    const char* text;
    EngineKind engine;
    const char16_t* interfaceName;
    const char16_t* stateFolder;
    const char* nativeStateFolder;
    const char* keaProgram;  // "" when a fault leaves the programs unread
    bool fault;
  } cases[] = {
      {nullptr, EngineKind::kCheck, u"", u"..\\run", "../run", "/usr/sbin/kea-dhcp4", false},
      {"[ENGINE]\n", EngineKind::kCheck, u"", u"..\\run", "../run", "/usr/sbin/kea-dhcp4", false},
      {"[engine]\nEngine=DNSMASQ\nInterface=vs1\n", EngineKind::kDnsmasq, u"vs1", u"..\\run",
       "../run", "/usr/sbin/kea-dhcp4", false},
      {"[ENGINE]\nEngine=kea\nStateFolder=/srv/run\nKeaProgram=/opt/kea/sbin/kea-dhcp4\n",
       EngineKind::kKea, u"", u"/srv/run", "/srv/run", "/opt/kea/sbin/kea-dhcp4", false},
      {"[ENGINE]\nEngine = Auto \nStateFolder=\n", EngineKind::kAuto, u"", u"..\\run", "../run",
       "/usr/sbin/kea-dhcp4", false},
      {"[ENGINE]\nEngine=check\nInterface=eth0\nStateFolder=..\\state\\a b\n", EngineKind::kCheck,
       u"eth0", u"..\\state\\a b", "../state/a b", "/usr/sbin/kea-dhcp4", false},
      {"[ENGINE]\nEngine=dhcpd\n", EngineKind::kCheck, u"", u"..\\run", "../run", "", true},
      {"[ENGINE]\nEngine=kea\nKeaProgram=kea-dhcp4\n", EngineKind::kKea, u"", u"..\\run", "../run",
       "", true},
      {"[ENGINE]\nEngine=auto\nDnsmasqProgram=bin/dnsmasq\n", EngineKind::kAuto, u"", u"..\\run",
       "../run", "", true},
      {"[ENGINE]\nEngine=kea\nKeaProgram=\\usr\\sbin\\kea-dhcp4\n", EngineKind::kKea, u"",
       u"..\\run", "../run", "", true},
      {"[OTHER]\nEngine=kea\n", EngineKind::kCheck, u"", u"..\\run", "../run",
       "/usr/sbin/kea-dhcp4", false},
  };
  for (const auto& c : cases) {
    fs::remove(file);
    if (c.text != nullptr) {
      std::ofstream(file, std::ios::binary) << c.text;
    }
    const PluginConfig config = ReadPluginConfig(path);
    const std::string shown = c.text == nullptr ? "(no file)" : c.text;
    EXPECT_EQ(config.engine, c.engine) << shown;
    EXPECT_EQ(config.interfaceName, c.interfaceName) << shown;
    EXPECT_EQ(config.stateFolderText, c.stateFolder) << shown;
    ASSERT_TRUE(config.stateFolder) << shown;
    EXPECT_EQ(config.stateFolder->generic_string(), c.nativeStateFolder) << shown;
    EXPECT_EQ(config.ProgramOf(EngineKind::kKea).generic_string(), c.keaProgram) << shown;
    EXPECT_EQ(!config.fault.empty(), c.fault) << shown;
    EXPECT_EQ(config.fault.find(u'@'), std::u16string::npos);
  }
}

// A UTF-16 settings file can hold what no path can: an unpaired surrogate.
TEST(PluginSettings, PathsThatCannotBeFileNamesAreRefused) {
  const test_support::TempFolder folder("dhcp-plugin-config-");
  const auto read = [&](std::u16string_view text) {
    return ReadPluginConfig(
        folder.Write("mekDHCPPluginu.ini", test_support::Utf16LeFile(text)).u16string());
  };
  PluginConfig config = read(u"[ENGINE]\r\nEngine=kea\r\nStateFolder=/srv/\xD800run\r\n");
  EXPECT_FALSE(config.stateFolder);
  EXPECT_TRUE(config.fault.empty());  // the engine layer refuses it, with the state folder codes

  config = read(u"[ENGINE]\r\nEngine=kea\r\nKeaProgram=/usr/sbin/\xDC00kea\r\n");
  EXPECT_NE(config.fault.find(u"KeaProgram"), std::u16string::npos);
  EXPECT_NE(config.fault.find(u"not a usable path"), std::u16string::npos);
}

// Per-packet logging is for a diagnosis only: off unless asked for, and a value that means neither
// is refused rather than guessed.
TEST(PluginSettings, LogPacketsIsYesOrNo) {
  const test_support::TempFolder folder("dhcp-plugin-config-");
  const struct {
    const char* line;
    bool logPackets;
    bool fault;
  } cases[] = {
      {"", false, false},
      {"LogPackets=\n", false, false},
      {"LogPackets=no\n", false, false},
      {"LogPackets=No\n", false, false},
      {"LogPackets=yes\n", true, false},
      {"LogPackets = YES \n", true, false},
      {"LogPackets=1\n", false, true},
      {"LogPackets=true\n", false, true},
      {"LogPackets=yes please\n", false, true},
  };
  for (const auto& c : cases) {
    const PluginConfig config = ReadPluginConfig(
        folder.Write("mekDHCPPluginu.ini", std::string("[ENGINE]\nEngine=kea\n") + c.line)
            .u16string());
    EXPECT_EQ(config.logPackets, c.logPackets) << c.line;
    EXPECT_EQ(!config.fault.empty(), c.fault) << c.line;
    if (c.fault) {
      EXPECT_NE(config.fault.find(u"LogPackets"), std::u16string::npos) << c.line;
      EXPECT_EQ(config.fault.find(u'@'), std::u16string::npos);
    }
  }
}

}  // namespace
