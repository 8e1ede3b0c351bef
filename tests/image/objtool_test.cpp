// objtool: descriptions, the four commands and their exit codes.

#include "objtool/objtool.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "image/validation.h"
#include "objtool/description.h"
#include "objtool/inspect.h"
#include "sample_images.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace downloader::objtool {
namespace {

using namespace image_layout;
using downloader::testing::Bytes;
using downloader::testing::ReadFileBytes;
using downloader::testing::SampleImage;
using downloader::testing::TempDir;

std::string Hex(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

struct Outcome {
  int exitCode;
  std::string out;
  std::string err;
};

Outcome Objtool(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int code = RunObjtool(args, out, err);
  return {code, out.str(), err.str()};
}

const char kDescription[] = R"({
  "target_device": 3,
  "company": "Veltrana, Inc.",
  "product": "Korvanetics C",
  "firmware": "Firmware 2.04",
  "compile_time": "2000-01-01T18:00:00",
  "notes": ["First line\r\nSecond line", "", "\r\nLast line"],
  "slots": [ {"file": "slot0.bin"}, {"packets": [PACKETS]} ]
})";

/// The sample image's description in JSON, slot 0 from a file, slot 1 as hex packets.
std::string SampleJson(const TempDir& dir) {
  const auto d = downloader::testing::SampleDescription();
  dir.Write("slot0.bin", std::string(d.slots[0].begin(), d.slots[0].end()));
  std::string packets;
  for (std::size_t k = 0; k < d.slots[1].size() / 18; ++k) {
    packets += k ? ", \"" : "\"";
    for (std::size_t i = 0; i < 18; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, i ? " %02x" : "%02X", d.slots[1][k * 18 + i]);
      packets += hex;
    }
    packets += "\"";
  }
  std::string json = kDescription;
  json.replace(json.find("PACKETS"), 7, packets);
  return json;
}

TEST(ObjtoolMake, BuildsTheImageTheDescriptionSays) {
  TempDir dir;
  const std::string description = dir.Write("sample.json", SampleJson(dir));
  const Outcome made = Objtool({"make", description, "-o", dir.File("out.obj")});
  ASSERT_EQ(made.exitCode, kExitOk) << made.err;
  EXPECT_EQ(ReadFileBytes(dir.File("out.obj")), Bytes(SampleImage()));
}

TEST(ObjtoolMake, StandardProductNameAndNotesSpreadOverParts) {
  const std::string notes(600, 'n');
  const auto d = ParseDescription(R"({"target_device": 6, "company": "", "firmware": "1",
      "compile_time": -1.25, "notes": ")" +
                                      notes + "\"}",
                                  ".");
  EXPECT_EQ(d.product, "Korvanetics F");
  EXPECT_EQ(d.compileTime, -1.25);
  EXPECT_EQ(d.notes[0].size(), 250u);
  EXPECT_EQ(d.notes[1].size(), 250u);
  EXPECT_EQ(d.notes[2].size(), 100u);
  EXPECT_TRUE(d.slots.empty());
}

TEST(ObjtoolMake, ErrorsNameTheField) {
  TempDir dir;
  dir.Write("odd.bin", std::string(20, 'x'));
  dir.Write("big.bin", std::string(129 * 18, 'x'));
  ASSERT_EQ(::mkfifo(dir.File("fifo.bin").c_str(), 0644), 0);
  const std::string base =
      R"("target_device": 3, "company": "C", "firmware": "F", "compile_time": "2000-01-01T00:00")";
  const std::string packet = R"("000102030405060708090a0b0c0d0e0f1011")";
  std::string nineSlots = "[";
  for (int s = 0; s < 9; ++s) nineSlots += s ? ", {\"packets\": []}" : "{\"packets\": []}";
  nineSlots += "]";
  const struct {
    std::string json;
    std::string error;
  } cases[] = {
      {R"({"company": "C", "firmware": "F", "compile_time": 1})", "target_device: missing"},
      {R"({"target_device": 0, "company": "C", "firmware": "F", "compile_time": 1})",
       "target_device: must be a whole number 1..6"},
      {"{" + base + R"(, "compnay": "x"})", "compnay: unknown field"},
      {"{" + base + R"(, "product": ")" + std::string(51, 'p') + "\"}",
       "product: 51 bytes, at most 50"},
      {R"({"target_device": 3, "company": "C", "firmware": "F", "compile_time": "2000-13-01T00:00"})",
       "compile_time: expected YYYY-MM-DDTHH:MM[:SS[.mmm]], got \"2000-13-01T00:00\""},
      {R"({"target_device": 3, "company": "C", "firmware": "F"})", "compile_time: missing"},
      {"{" + base + R"(, "notes": ")" + std::string(751, 'n') + "\"}",
       "notes: 751 bytes, at most 750"},
      {"{" + base + R"(, "notes": ["a", ")" + std::string(251, 'n') + "\"]}",
       "notes[1]: 251 bytes, at most 250"},
      {"{" + base + R"(, "slots": [{"packets": [)" + packet + R"(, "00"]}]})",
       "slots[0].packets[1]: expected 36 hex digits (18 bytes), got 2"},
      {"{" + base + R"(, "slots": [{"packets": ["zz"]}]})", "slots[0].packets[0]: 'z' is not"},
      {"{" + base + R"(, "slots": [{"file": "odd.bin"}]})", "slots[0].file: "},
      // At most what a slot holds is read, from a plain file: a longer file, a device or a
      // FIFO would take all memory or never end.
      {"{" + base + R"(, "slots": [{"file": "big.bin"}]})",
       "slots[0].file: cannot read " + dir.File("big.bin") + ": it has 2322 bytes, more than 2304"},
      {"{" + base + R"(, "slots": [{"file": "/dev/zero"}]})",
       "slots[0].file: cannot read /dev/zero: it is a device"},
      {"{" + base + R"(, "slots": [{"file": "fifo.bin"}]})",
       "slots[0].file: cannot read " + dir.File("fifo.bin") + ": it is a FIFO"},
      {"{" + base + R"(, "slots": [{"file": "none.bin"}]})", "slots[0].file: cannot read"},
      {"{" + base + R"(, "slots": [{"file": "."}]})", "slots[0].file: cannot read"},
      {"{" + base + R"(, "slots": [{"file": "odd.bin", "packets": []}]})",
       "slots[0]: needs exactly one of"},
      {"{" + base + R"(, "slots": )" + nineSlots + "}", "slots: 9 slots, at most 8"},
      {"[1, 2]", "the description must be a JSON object"},
      {"{", "not valid JSON"},
      {"1e3808", "not valid JSON"},
  };
  for (const auto& c : cases) {
    const std::string description = dir.Write("bad.json", c.json);
    const Outcome run = Objtool({"make", description, "-o", dir.File("bad.obj")});
    EXPECT_EQ(run.exitCode, kExitInvalid) << c.json;
    EXPECT_EQ(run.err.find("objtool: " + description + ": " + c.error), 0u) << c.json << "\n"
                                                                            << run.err;
  }
}

TEST(ObjtoolEmbedExtract, RoundTripKeepsTheBytesAndTheExecutableBit) {
  TempDir dir;
  const std::string loader = dir.Write("loader", std::string(30000, '\x7F') + "ELF");
  ASSERT_EQ(::chmod(loader.c_str(), 0751), 0);
  const std::string image = dir.Write("image.obj", Bytes(SampleImage()));

  ASSERT_EQ(Objtool({"embed", loader, image, "-o", dir.File("stamped")}).exitCode, kExitOk);
  const std::string stamped = ReadFileBytes(dir.File("stamped"));
  EXPECT_EQ(stamped, ReadFileBytes(loader) + Bytes(SampleImage()));
  struct stat info {};
  ASSERT_EQ(::stat(dir.File("stamped").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0751u);

  ASSERT_EQ(Objtool({"extract", dir.File("stamped"), "-o", dir.File("back.obj")}).exitCode,
            kExitOk);
  EXPECT_EQ(ReadFileBytes(dir.File("back.obj")), Bytes(SampleImage()));

  // Stamping a stamped loader again replaces its image instead of adding one.
  ObjectImage other = SampleImage();
  other.bytes[kTargetDevice] = 4;
  Seal(other);
  const std::string otherImage = dir.Write("other.obj", Bytes(other));
  ASSERT_EQ(Objtool({"embed", dir.File("stamped"), otherImage, "-o", dir.File("again")}).exitCode,
            kExitOk);
  EXPECT_EQ(ReadFileBytes(dir.File("again")), ReadFileBytes(loader) + Bytes(other));
}

TEST(ObjtoolEmbedExtract, RefusesWhatTheLoaderWouldRefuse) {
  TempDir dir;
  const std::string loader = dir.Write("loader", std::string(30000, 'L'));
  ObjectImage bad = SampleImage();
  bad.bytes[kFormatVersion] = 0x11;
  Seal(bad);
  const Outcome embed =
      Objtool({"embed", loader, dir.Write("bad.obj", Bytes(bad)), "-o", dir.File("out")});
  EXPECT_EQ(embed.exitCode, kExitInvalid);
  EXPECT_NE(embed.err.find("013-Can not process object code."), std::string::npos) << embed.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("out")));

  const Outcome extract = Objtool({"extract", loader, "-o", dir.File("image.obj")});
  EXPECT_EQ(extract.exitCode, kExitInvalid);
  EXPECT_NE(extract.err.find("carries no embedded image"), std::string::npos);
  EXPECT_EQ(Objtool({"embed", loader, dir.Write("short.obj", "abc"), "-o", dir.File("o")}).exitCode,
            kExitInvalid);
}

TEST(ObjtoolInfo, ObjectFileAndLoaderInTextAndJson) {
  TempDir dir;
  ObjectImage image = SampleImage();
  const std::string file = dir.Write("image.obj", Bytes(image));
  const Outcome text = Objtool({"info", file});
  ASSERT_EQ(text.exitCode, kExitOk) << text.err;
  const std::vector<std::string> lines = {
      "source:            object file, 19391 bytes, image at offset 0\n",
      "notes part 0:      \"First line\\r\\nSecond line\" (23 of 250 bytes)\n",
      "slot 1:            3 packets\n",
      "stored crc:        0x" + Hex(image.Crc()) + " (matches)\n",
      "display checksum:  " + std::to_string(DisplayChecksum(image)) + "\n",
      "loader:            accepts the image\n"};
  for (const std::string& expected : lines) {
    EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
  }

  const std::string loader = dir.Write("loader", "\177ELF" + std::string(1000, 'x') + Bytes(image));
  const Outcome json = Objtool({"info", loader, "--json"});
  ASSERT_EQ(json.exitCode, kExitOk) << json.err;
  const auto info = nlohmann::json::parse(json.out);
  EXPECT_EQ(info["source"], "loader");
  EXPECT_EQ(info["image_offset"], 1004);
  EXPECT_EQ(info["product"], "Korvanetics C");
  EXPECT_EQ(info["compile_time_iso"], "2000-01-01T18:00:00.000");
  EXPECT_EQ(info["notes"][2], "\r\nLast line");
  EXPECT_EQ(info["packet_counts"], nlohmann::json({5, 3}));
  EXPECT_EQ(info["crc_ok"], true);
  EXPECT_EQ(info["display_checksum"], DisplayChecksum(image));
  EXPECT_EQ(info["valid"], true);
  EXPECT_TRUE(info["loader_message"].is_null());
}

TEST(ObjtoolInfo, ShowsWhatIsWrongAndExitsWithOne) {
  TempDir dir;
  ObjectImage image = SampleImage();
  image.bytes[PacketOffset(0, 2)] ^= 1;
  image.bytes[kCompanyName] = 200;  // over capacity, still shown
  const std::string file = dir.Write("corrupt.obj", Bytes(image));
  const Outcome text = Objtool({"info", file});
  EXPECT_EQ(text.exitCode, kExitInvalid);
  EXPECT_NE(text.out.find("(200 of 50 bytes, over capacity)"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("(does not match, computed 0x"), std::string::npos) << text.out;
  EXPECT_NE(
      text.out.find("refuses it: 012-Checksum Error.  Data is corrupt in file \"" + file + "\"."),
      std::string::npos)
      << text.out;

  const Outcome json = Objtool({"info", file, "--json"});
  EXPECT_EQ(json.exitCode, kExitInvalid);
  const auto info = nlohmann::json::parse(json.out);
  EXPECT_EQ(info["crc_ok"], false);
  EXPECT_EQ(info["valid"], false);

  // An image-sized file without the magic is still an object file, not a loader.
  image = SampleImage();
  image.bytes[kMagic + 1] = 'k';
  Seal(image);
  const Outcome magic = Objtool({"info", dir.Write("magic.obj", Bytes(image))});
  EXPECT_EQ(magic.exitCode, kExitInvalid);
  EXPECT_NE(magic.out.find("source:            object file,"), std::string::npos) << magic.out;
  EXPECT_NE(magic.out.find("refuses it: 014-"), std::string::npos) << magic.out;

  EXPECT_EQ(Objtool({"info", dir.Write("short", "abc")}).exitCode, kExitInvalid);
  const Outcome plain = Objtool({"info", dir.Write("plain", "\177ELF" + std::string(kSize, 'x'))});
  EXPECT_EQ(plain.exitCode, kExitInvalid);
  EXPECT_NE(plain.err.find("without an embedded image"), std::string::npos) << plain.err;
}

TEST(Objtool, UsageErrorsExitWithTwo) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"frobnicate"},
                                             {"make", "a.json"},
                                             {"make", "a.json", "-o"},
                                             {"info"},
                                             {"info", "a", "b"},
                                             {"info", "a", "-o", "b"},
                                             {"extract", "a", "--json", "-o", "b"},
                                             {"embed", "a", "-o", "b"},
                                             {"info", "a", "--bogus"}}) {
    const Outcome run = Objtool(args);
    EXPECT_EQ(run.exitCode, kExitUsage) << ::testing::PrintToString(args);
    EXPECT_NE(run.err.find("usage: objtool make"), std::string::npos);
  }
  EXPECT_EQ(Objtool({"--help"}).exitCode, kExitOk);
  // Input that cannot be read is invalid input, not a usage error; the system says why.
  const Outcome unread = Objtool({"info", "/nonexistent/file"});
  EXPECT_EQ(unread.exitCode, kExitInvalid);
  EXPECT_EQ(unread.err, "objtool: /nonexistent/file: cannot open: No such file or directory\n");
  testing::TempDir dir;
  const Outcome unwritten =
      Objtool({"make", dir.Write("d.json", SampleJson(dir)), "-o", dir.File("no/such.obj")});
  EXPECT_EQ(unwritten.err,
            "objtool: " + dir.File("no/such.obj") + ": cannot write: No such file or directory\n");
}

TEST(ParseIsoDateTime, FormsAndValues) {
  EXPECT_EQ(ParseIsoDateTime("2000-01-01T18:00"), 36526.75);
  EXPECT_EQ(ParseIsoDateTime("2000-01-01 18:00:00"), 36526.75);
  EXPECT_EQ(ParseIsoDateTime("1899-12-29T06:00:00.0"), -1.25);
  EXPECT_EQ(IsoDateTime(*ParseIsoDateTime("2023-06-14T09:41:27.5")), "2023-06-14T09:41:27.500");
  for (const char* bad : {"", "2000-01-01", "2000-01-01T18", "2000-01-01T18:00:", "2000-1-01T18:00",
                          "2000-01-01T18:00:00.", "2000-01-01T18:00:00.1234", "2000-01-01T18:00Z",
                          "2000-02-30T00:00", "0000-01-01T00:00", "2000-01-01T24:00"}) {
    EXPECT_FALSE(ParseIsoDateTime(bad)) << bad;
  }
}

}  // namespace
}  // namespace downloader::objtool
