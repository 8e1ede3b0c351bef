// The Telnet receive side of a network serial port: the parser and the option negotiation
// of the client (BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION accepted both ways). The
// input is fed three times, whole, split at a boundary chosen from its first two bytes,
// and one byte at a time; what the parser reports and what the negotiation answers must
// not depend on how the stream was cut.
#include <algorithm>
#include <vector>

#include "fuzz_check.h"
#include "serial/telnet.h"

using namespace downloader;
using namespace downloader::telnet;

namespace {

// Everything the parser reports and the negotiation answers, in order, as one byte list.
class Recorder final : public Parser::Handler {
 public:
  Recorder() : negotiator_(Accepted(), Accepted()) {}

  void OnData(uint8_t byte) override { log.insert(log.end(), {'d', byte}); }

  void OnNegotiation(uint8_t verb, uint8_t option) override {
    fuzz::Check(verb >= kWill && verb <= kDont);
    std::vector<uint8_t> answer;
    negotiator_.Receive(verb, option, answer);
    // At most one answer, a WILL, WONT, DO or DONT about the same option.
    fuzz::Check(answer.empty() || (answer.size() == 3 && answer[0] == kIac && answer[1] >= kWill &&
                                   answer[1] <= kDont && answer[2] == option));
    log.insert(log.end(), {'n', verb, option});
    log.insert(log.end(), answer.begin(), answer.end());
  }

  void OnSubnegotiation(const std::vector<uint8_t>& body) override {
    fuzz::Check(body.size() <= Parser::kMaxSubnegotiation);
    log.insert(log.end(), {'s', static_cast<uint8_t>(body.size())});
    log.insert(log.end(), body.begin(), body.end());
  }

  std::vector<uint8_t> log;

 private:
  static std::bitset<256> Accepted() {
    std::bitset<256> options;
    for (const uint8_t o : {kOptionBinary, kOptionSuppressGoAhead, kOptionComPort}) {
      options[o] = true;
    }
    return options;
  }
  Negotiator negotiator_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Recorder whole;
  Parser{}.Feed(data, size, whole);

  const std::size_t split = size < 2 ? 0 : (data[0] | data[1] << 8) % (size + 1);
  Recorder halves;
  Parser twice;
  twice.Feed(data, split, halves);
  twice.Feed(data + split, size - split, halves);
  fuzz::Check(halves.log == whole.log);

  Recorder bytes;
  Parser single;
  for (std::size_t i = 0; i < size; ++i) single.Feed(data + i, 1, bytes);
  fuzz::Check(bytes.log == whole.log);

  // Data bytes escaped again parse back to themselves.
  std::vector<uint8_t> sent;
  for (std::size_t i = 0; i + 1 < whole.log.size(); i += 2) {
    if (whole.log[i] != 'd') break;
    AppendEscaped(sent, &whole.log[i + 1], 1);
  }
  Recorder echo;
  Parser{}.Feed(sent.data(), sent.size(), echo);
  fuzz::Check(std::equal(echo.log.begin(), echo.log.end(), whole.log.begin()));
  return 0;
}
