#include "identify/identify.h"

#include <gtest/gtest.h>

#include "identify/fake_module.h"
#include "image/object_image.h"
#include "serial/globals.h"
#include "serial/pool.h"
#include "ui/download_test_state.h"

namespace downloader {
namespace {

using testing::FakeModule;
using testing::FakePorts;
using testing::ModuleConfig;

struct Probe {
  bool result = false;
  std::string name = "unset";
  std::string version = "unset";
  std::string echo = "unset";
  DeviceType found = 99;
};

class IdentifyTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetDownloaderState(); }

  // Probes `type` on a port with `config` attached, as the scan does.
  Probe Run(ModuleConfig config, int type) {
    module = ports.Attach("COM1", config);
    uint32_t error = 0;
    const int slot = AcquirePort("COM1", error);
    EXPECT_GE(slot, -3);
    Probe p;
    p.result = IdentifyDevice(slot, type, p.name, p.version, p.echo, p.found);
    SerialPool(slot).Close();
    return p;
  }

  // The bytes of the host's write calls, run together.
  std::vector<uint8_t> Written() const {
    std::vector<uint8_t> all;
    for (const auto& w : module->Writes()) all.insert(all.end(), w.begin(), w.end());
    return all;
  }

  FakePorts ports;
  std::shared_ptr<FakeModule> module;
};

void ExpectNotIdentified(const Probe& p, const char* echo) {
  EXPECT_FALSE(p.result);
  EXPECT_EQ(p.name, "");
  EXPECT_EQ(p.version, "");
  EXPECT_EQ(p.echo, echo);
  EXPECT_EQ(p.found, 0);
}

TEST_F(IdentifyTest, EveryProbeStartsWithTheResetPulseAndADrain) {
  Run({.type = 3, .reply = 0x83}, 3);
  auto events = module->LineEvents();
  // Opening the port drops DTR and RTS; the probe starts with the next DTR change.
  while (!events.empty() && events.front().what != "DTR+") events.erase(events.begin());
  ASSERT_GE(events.size(), 5u);
  const std::vector<std::string> order = {"DTR+", "BREAK+", "DTR-", "BREAK-", "DRAIN"};
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(events[i].what, order[i]);
  using std::chrono::milliseconds;
  // DTR high inside BREAK for at least its 2 ms (how much longer depends on the scheduler:
  // an upper bound here would measure the machine's load, not the loader).
  EXPECT_GE(events[2].when - events[1].when, milliseconds(2));
  EXPECT_GE(events[3].when - events[1].when, milliseconds(52));  // the BREAK itself
  EXPECT_GE(events[4].when - events[3].when, milliseconds(2));
}

TEST_F(IdentifyTest, NothingAttachedStopsAfterTheFirstByte) {
  ExpectNotIdentified(Run({.type = 0}, 2), "No");
  EXPECT_EQ(Written(), std::vector<uint8_t>{'K'});
  ExpectNotIdentified(Run({.type = 0}, 5), "No");
  EXPECT_EQ(Written(), std::vector<uint8_t>{0x91});
}

TEST_F(IdentifyTest, TypeTwoHandshakeGivesTheVersionFromItsByte) {
  Probe p = Run({.type = 2, .reply = 0x10}, 2);
  EXPECT_TRUE(p.result);
  EXPECT_EQ(p.name, "Korvanetics B");
  EXPECT_EQ(p.version, "v1.0");
  EXPECT_EQ(p.echo, "Yes");
  EXPECT_EQ(p.found, 2);
  EXPECT_EQ(Written(), (std::vector<uint8_t>{'K', 'V', 'Q', 0x00}));

  EXPECT_EQ(Run({.type = 2, .reply = 0x2A}, 2).version, "v2.A");
  EXPECT_EQ(Run({.type = 2, .reply = 0x05}, 2).version, "v0.5");
  p = Run({.type = 2, .reply = -1}, 2);  // no version byte at all
  EXPECT_TRUE(p.result);
  EXPECT_EQ(p.version, "vF.F");

  DeviceNames[2] = "Acme Widget";  // what the download puts there
  EXPECT_EQ(Run({.type = 2, .reply = 0x10}, 2).name, "Acme Widget");
}

TEST_F(IdentifyTest, TypeTwoWrongAnswerStopsTheHandshake) {
  ExpectNotIdentified(Run({.type = 2, .reply = 0x10, .wrongHandshakeAt = 1}, 2), "Yes");
  EXPECT_EQ(Written(), (std::vector<uint8_t>{'K', 'V'}));  // neither Q nor the zero byte
}

TEST_F(IdentifyTest, CodeByteRepliesOutsideTheTypesSetAreRejected) {
  Probe p = Run({.type = 3, .reply = 0x84}, 3);
  EXPECT_TRUE(p.result);
  EXPECT_EQ(p.name, "Korvanetics C");
  EXPECT_EQ(p.version, "v1.1");
  EXPECT_EQ(p.found, 3);
  EXPECT_EQ(Written(), std::vector<uint8_t>{0x83});

  EXPECT_EQ(Run({.type = 4, .reply = 0x89}, 4).version, "v1.2");
  ExpectNotIdentified(Run({.type = 3, .reply = 0x86}, 3), "Yes");
  ExpectNotIdentified(Run({.type = 3, .reply = -1}, 3), "Yes");
  // Without an echo, the answer is taken for the echo and does not match the code byte.
  ExpectNotIdentified(Run({.type = 3, .reply = 0x84, .echo = false}, 3), "No");
  // A type 4 module answers the type 3 code byte with silence.
  ExpectNotIdentified(Run({.type = 4, .reply = 0x87}, 3), "Yes");
}

TEST_F(IdentifyTest, VariantBitSelectsTheSuffix) {
  struct Case {
    int type;
    int reply;
    const char* name;  // nullptr: not accepted
    const char* version;
  };
  const Case cases[] = {
      {5, 0x94, "Korvanetics E40", "v1.3"}, {5, 0xB4, "Korvanetics E24", "v1.3"},
      {5, 0x91, "Korvanetics E40", "v1.0"}, {5, 0xB7, "Korvanetics E24", "v1.6"},
      {5, 0x98, nullptr, nullptr},          {5, 0xB8, nullptr, nullptr},
      {6, 0xBC, "Korvanetics F24", "v1.3"}, {6, 0x99, "Korvanetics F40", "v1.0"},
      {6, 0x9D, nullptr, nullptr},          {6, 0xBD, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << " reply " << c.reply);
    const Probe p = Run({.type = c.type, .reply = c.reply}, c.type);
    if (c.name == nullptr) {
      ExpectNotIdentified(p, "Yes");
      continue;
    }
    EXPECT_TRUE(p.result);
    EXPECT_EQ(p.name, c.name);
    EXPECT_EQ(p.version, c.version);
    EXPECT_EQ(p.found, c.type);
  }
}

TEST_F(IdentifyTest, CustomProductBlanksTheNamesOfOtherTypes) {
  testing::SetTestImage(3, {1}, "Acme Widget");
  CustomProduct = true;
  DeviceNames[3] = "Acme Widget";
  Probe p = Run({.type = 5, .reply = 0x91}, 5);
  EXPECT_TRUE(p.result);
  EXPECT_EQ(p.name, "40");
  EXPECT_EQ(p.found, 5);
  EXPECT_EQ(Run({.type = 4, .reply = 0x87}, 4).name, "");
  EXPECT_EQ(Run({.type = 3, .reply = 0x83}, 3).name, "Acme Widget");
}

TEST_F(IdentifyTest, TypesWithoutAnExchangeNeverIdentify) {
  for (const int type : {0, 1, 7, 255, -1}) {
    SCOPED_TRACE(type);
    ExpectNotIdentified(Run({.type = -1}, type), "Yes");
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(module->Resets(), 1);
  }
}

}  // namespace
}  // namespace downloader
