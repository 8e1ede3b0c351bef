// The emulated module's side of the wire protocol, event by event.

#include "module_model.h"

#include <gtest/gtest.h>

#include "download/download.h"
#include "module_spec.h"

namespace emulator {
namespace {

using Bytes = std::vector<uint8_t>;

ModuleSpec Spec(const std::string& text) {
  ModuleSpec spec;
  std::string error;
  EXPECT_TRUE(ParseModuleSpec(text, spec, error)) << text << ": " << error;
  return spec;
}

// Feeds bytes and collects every byte the module sends back.
Bytes Feed(ModuleModel& model, const Bytes& in, bool* dropped = nullptr) {
  Bytes out;
  for (uint8_t b : in) {
    const Reaction r = model.OnByte(b);
    for (const auto& byte : r.bytes) out.push_back(byte.value);
    if (r.drop && dropped) *dropped = true;
  }
  return out;
}

// Feeds bytes and collects the replies among what comes back: the bytes a loader awaits.
Bytes Replies(ModuleModel& model, const Bytes& in) {
  Bytes out;
  for (uint8_t b : in) {
    for (const auto& byte : model.OnByte(b).bytes) {
      if (byte.reply) out.push_back(byte.value);
    }
  }
  return out;
}

void ResetPulse(ModuleModel& model) {
  model.OnDtr(true);
  model.OnBreak(true);
  model.OnDtr(false);
  model.OnBreak(false);
}

Bytes Packet(uint8_t first) {
  Bytes p(18);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(first + i);
  return p;
}

TEST(ModuleSpec, VersionsVariantsAndFaults) {
  EXPECT_EQ(Spec("type=3,version=1.1").reply, 0x84);
  EXPECT_EQ(Spec("type=3").reply, 0x83);
  EXPECT_EQ(Spec("type=4,version=1.2").reply, 0x89);
  EXPECT_EQ(Spec("type=5,version=1.3,variant=24").reply, 0xB4);
  EXPECT_EQ(Spec("type=5,version=1.3,variant=40").reply, 0x94);
  EXPECT_EQ(Spec("type=6,version=1.3,variant=24").reply, 0xBC);
  EXPECT_EQ(Spec("type=2").reply, 0x10);
  EXPECT_EQ(Spec("type=2,version=2.A").reply, 0x2A);
  EXPECT_EQ(Spec("type=3,reply=0x86").reply, 0x86);
  EXPECT_EQ(VersionText(Spec("type=5,variant=24,version=1.6")), "1.6");
  EXPECT_EQ(VersionText(Spec("type=2,version=2.A")), "2.A");
  EXPECT_EQ(VersionText(Spec("type=4,reply=0x10")), "0x10");
  // Without version=, every type reports a version the loader downloads to.
  for (int type = 2; type <= 6; ++type) {
    EXPECT_TRUE(
        downloader::VersionAccepted(type, "v" + VersionText(Spec("type=" + std::to_string(type)))))
        << type;
  }

  const ModuleSpec full = Spec(
      "port=4000,type=3,loopback,dsr=on,noecho,badreply,chatter,statusdelay=70,com=7,"
      "status=2@1:5,silent@0:3,drop@2:0,slotshift@6,identfail@0");
  EXPECT_EQ(full.port, 4000);
  EXPECT_EQ(full.com, 7);
  EXPECT_TRUE(full.loopback && full.dsrOn && full.noEcho && full.badReply && full.chatter);
  EXPECT_EQ(full.statusDelayMs, 70u);
  ASSERT_EQ(full.faults.size(), 3u);
  EXPECT_EQ(full.faults[0].kind, PacketFault::Kind::kStatus);
  EXPECT_EQ(full.faults[0].status, 2);
  EXPECT_EQ(full.faults[0].slot, 1);
  EXPECT_EQ(full.faults[0].packet, 5);
  EXPECT_EQ(full.faults[1].kind, PacketFault::Kind::kSilent);
  EXPECT_EQ(full.faults[2].kind, PacketFault::Kind::kDrop);
  EXPECT_EQ(full.shiftedSlots, std::vector<int>{6});
  EXPECT_EQ(full.identFailSlots, std::vector<int>{0});

  ModuleSpec spec;
  std::string error;
  for (const char* bad :
       {"", "type=7", "type=1", "type=3,variant=24", "type=5,variant=30", "type=3,version=2.0",
        "type=2,version=1.G", "type=3,status=2@1", "type=3,bogus", "type=3,com=0",
        "type=3,port=70000", "type=3,loopback=yes", "type=3,slotshift@8", "type=3,identfail=1"}) {
    EXPECT_FALSE(ParseModuleSpec(bad, spec, error)) << bad;
  }
}

TEST(ModuleModel, TypeTwoHandshakeThenPacketsWithoutASlotByte) {
  ModuleModel model(Spec("type=2,version=1.0"));
  ResetPulse(model);
  EXPECT_EQ(Feed(model, {'K', 'V', 'Q'}), (Bytes{'K', 0xB5, 'V', 0xAA, 'Q', 0xAF}));
  EXPECT_EQ(Feed(model, {0}), (Bytes{0, 0x10}));
  Bytes expected = Packet(1);
  expected.push_back(0);
  EXPECT_EQ(Feed(model, Packet(1)), expected);
  EXPECT_EQ(Feed(model, {0}), Bytes{0});  // the end of the slot, echoed only
  ResetPulse(model);
  Feed(model, {'K', 'V', 'Q', 0});
  Feed(model, Packet(50));
  const auto slots = model.Slots();
  ASSERT_EQ(slots.size(), 2u);  // type 2 transfers are numbered in order
  EXPECT_TRUE(slots.at(0).ended);
  EXPECT_EQ(slots.at(0).acknowledged, std::vector<Bytes>{Packet(1)});
  EXPECT_FALSE(slots.at(1).ended);
  EXPECT_EQ(slots.at(1).received, std::vector<Bytes>{Packet(50)});
}

TEST(ModuleModel, TypeTwoAnswersOnlyItsOwnHandshake) {
  ModuleModel model(Spec("type=2"));
  EXPECT_EQ(Feed(model, {'K', 'X'}), (Bytes{'K', 0xB5, 'X'}));  // a wrong byte starts over
  EXPECT_EQ(Feed(model, {0x83, 'V'}), (Bytes{0x83, 'V'}));
  EXPECT_EQ(Feed(model, {'K', 'V', 'Q', 7}), (Bytes{'K', 0xB5, 'V', 0xAA, 'Q', 0xAF, 7}));
}

TEST(ModuleModel, CodeByteTypesAnswerTheirOwnCodeOnly) {
  struct Case {
    const char* spec;
    uint8_t code;
    uint8_t reply;
  };
  for (const Case& c : {Case{"type=3,version=1.1", 0x83, 0x84}, Case{"type=4", 0x87, 0x87},
                        Case{"type=5,version=1.3,variant=24", 0x91, 0xB4},
                        Case{"type=6,version=1.3", 0x99, 0x9C}}) {
    ModuleModel model(Spec(c.spec));
    ResetPulse(model);
    for (uint8_t other : Bytes{0x83, 0x87, 0x91, 0x99, 'K'}) {
      if (other != c.code) {
        EXPECT_EQ(Feed(model, {other}), Bytes{other}) << c.spec;
      }
    }
    EXPECT_EQ(Feed(model, {c.code}), (Bytes{c.code, c.reply})) << c.spec;
  }
}

TEST(ModuleModel, SlotTransferWithStatusFaults) {
  ModuleModel model(Spec("type=3,status=2@1:1,silent@1:2"));
  ResetPulse(model);
  Feed(model, {0x83});
  EXPECT_EQ(Feed(model, {1}), Bytes{1});  // the slot byte, echoed
  Bytes out = Feed(model, Packet(0));
  EXPECT_EQ(out.back(), 0);
  EXPECT_EQ(out.size(), 19u);
  out = Feed(model, Packet(20));
  EXPECT_EQ(out.back(), 2);
  out = Feed(model, Packet(40));
  EXPECT_EQ(out, Packet(40));  // echoed, no status
  Feed(model, {0});
  const auto slot = model.Slots().at(1);
  EXPECT_EQ(slot.received, (std::vector<Bytes>{Packet(0), Packet(20), Packet(40)}));
  EXPECT_EQ(slot.acknowledged, std::vector<Bytes>{Packet(0)});
  EXPECT_TRUE(slot.ended);
}

TEST(ModuleModel, RepliesAreWhatALoaderAwaitsNotEchoesOrUnaskedBytes) {
  // The identification answer, the slot byte's echo, each status byte and the closing
  // zero's echo; not a packet's echo nor an unasked byte.
  ModuleModel model(Spec("type=3,version=1.1,chatter=0x55@0:0,status=2@0:1"));
  ResetPulse(model);
  EXPECT_EQ(Replies(model, {0x83, 0}), (Bytes{0x84, 0}));
  EXPECT_EQ(Replies(model, Packet(1)), Bytes{0});
  EXPECT_EQ(Replies(model, Packet(1)), Bytes{2});
  EXPECT_EQ(Replies(model, {0}), Bytes{0});
  ModuleModel typeTwo(Spec("type=2,version=1.0"));
  EXPECT_EQ(Replies(typeTwo, {'K', 'V', 'Q', 0}), (Bytes{0xB5, 0xAA, 0xAF, 0x10}));
  ModuleModel quiet(Spec("type=3,noecho"));
  EXPECT_EQ(Replies(quiet, {0x83, 0}), Bytes{0x83});  // no echo: nothing of the slot byte
  EXPECT_EQ(Replies(quiet, Packet(1)), Bytes{0});
}

TEST(ModuleModel, AZeroAtAPacketBoundaryEndsTheSlotUnlessMoreDataFollows) {
  ModuleModel model(Spec("type=4"));
  ResetPulse(model);
  Feed(model, {0x87, 0});
  Bytes startsWithZero = Packet(0);  // 0, 1, 2 ... 17
  Bytes out = Feed(model, startsWithZero);
  EXPECT_EQ(out.size(), 19u);
  EXPECT_EQ(out.back(), 0);
  Feed(model, {0});
  EXPECT_TRUE(model.Slots().at(0).ended);
  ResetPulse(model);
  Feed(model, {0x87, 0});  // a new transfer of slot 0 starts afresh
  EXPECT_TRUE(model.Slots().at(0).received.empty());
  EXPECT_FALSE(model.Slots().at(0).ended);
}

TEST(ModuleModel, HangUpAndChatterAtAPacketBoundary) {
  // Slot 0: one unasked byte before the echo of packet 1, then a hang-up on its closing zero.
  ModuleModel model(Spec("type=3,chatter=0x55@0:1,hangup@0:2,hangup@1:0"));
  Feed(model, {0x83, 0});
  EXPECT_EQ(Feed(model, Packet(0)).size(), 19u);
  const Bytes out = Feed(model, Packet(20));
  ASSERT_EQ(out.size(), 20u);
  EXPECT_EQ(out.front(), 0x55);
  EXPECT_EQ(out[1], 20);
  bool dropped = false;
  EXPECT_TRUE(Feed(model, {0}, &dropped).empty());  // not even echoed
  EXPECT_TRUE(dropped);
  model.OnDisconnect();
  EXPECT_EQ(model.Slots().at(0).acknowledged.size(), 2u);
  EXPECT_FALSE(model.Slots().at(0).ended) << "the slot was never closed";
  // An empty slot hangs up on its only byte, the closing zero.
  model.OnConnect();
  ResetPulse(model);
  dropped = false;
  Feed(model, {0x83, 1, 0}, &dropped);
  EXPECT_TRUE(dropped);
  model.OnDisconnect();
  EXPECT_FALSE(model.Slots().at(1).ended);
}

TEST(ModuleModel, ResetsEchoFaultsAndLines) {
  ModuleModel quiet(Spec("type=3,version=1.1,noecho"));
  EXPECT_EQ(Feed(quiet, {0x83}), Bytes{0x84});  // the reply only
  ModuleModel bad(Spec("type=3,badreply"));
  EXPECT_EQ(Feed(bad, {0x83, 0}), (Bytes{0x83, 0x00, 0}));  // and no slot follows
  EXPECT_TRUE(bad.Slots().empty());

  ModuleModel model(Spec("type=3,loopback,drop@0:0"));
  EXPECT_FALSE(model.Dsr());
  model.OnRts(true);
  EXPECT_TRUE(model.Dsr());
  model.OnBreak(true);
  EXPECT_EQ(model.Resets(), 1);
  EXPECT_TRUE(Feed(model, {0x83}).empty());  // nothing arrives during BREAK
  model.OnBreak(true);
  EXPECT_EQ(model.Resets(), 1);  // only the start of BREAK resets
  model.OnBreak(false);
  Feed(model, {0x83, 0});
  bool dropped = false;
  Feed(model, Packet(9), &dropped);
  EXPECT_TRUE(dropped);
  EXPECT_TRUE(ModuleModel(Spec("type=3,dsr=on")).Dsr());
}

}  // namespace
}  // namespace emulator
