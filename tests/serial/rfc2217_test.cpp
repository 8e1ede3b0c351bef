// The RFC 2217 client: the quirks of real servers (as measured on ser2net), hostile and
// broken servers, and interoperation with pyserial's independent implementation.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "run/helpers.h"
#include "serial/globals.h"
#include "serial/pool.h"
#include "serial/serial.h"
#include "serial/serial_device_rfc2217.h"
#include "serial/socket.h"
#include "serial/telnet.h"
#include "support/emulator_fixture.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

using namespace std::chrono_literals;
using namespace telnet;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A TCP server on 127.0.0.1 that runs a script on the first connection, on its own thread.
// The script gets the socket and a flag that says when to end.
class ScriptedServer {
 public:
  using Script = std::function<void(int fd, const std::atomic<bool>& stop)>;

  explicit ScriptedServer(Script script) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    socklen_t len = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &len);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, script = std::move(script)] {
      pollfd p{listener_, POLLIN, 0};
      while (!stop_ && ::poll(&p, 1, 20) == 0) {
      }
      if (stop_) return;
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      script(fd, stop_);
      ::close(fd);
    });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void SendAll(int fd, const Bytes& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

// Runs a Telnet handler over the connection until the client goes or the test ends.
void Serve(int fd, const std::atomic<bool>& stop, Parser::Handler& handler,
           const std::function<void()>& idle = {}) {
  Parser parser;
  uint8_t chunk[4096];
  while (!stop) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, idle ? 1 : 20) > 0) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      parser.Feed(chunk, static_cast<std::size_t>(n), handler);
    }
    if (idle) idle();
  }
}

// What a scripted server saw, kept by the test beyond the connection.
struct ServerRecords {
  std::mutex mutex;
  Bytes data;
  Bytes controls;
  std::vector<std::pair<uint8_t, uint8_t>> negotiations;
};

// Behaves as ser2net 4.3 was measured to: its option offers on connect, one modem state
// notification after WILL COM-PORT, SET-CONTROL answered for flow and BREAK only (BREAK
// off with the value of BREAK on), no answer to SET-MODEMSTATE-MASK, data echoed.
struct Ser2netLike : Parser::Handler {
  Ser2netLike(int f, std::shared_ptr<ServerRecords> r) : fd(f), records(std::move(r)) {
    SendAll(fd, {kIac, kWill, kOptionSuppressGoAhead,
                 kIac, kDo,   kOptionSuppressGoAhead,
                 kIac, kWill, kOptionEcho,
                 kIac, kDont, kOptionEcho,
                 kIac, kDo,   kOptionBinary,
                 kIac, kWill, kOptionBinary,
                 kIac, kDo,   kOptionComPort});
  }
  void OnData(uint8_t byte) override {
    std::lock_guard lock(records->mutex);
    records->data.push_back(byte);
    Bytes echo;
    AppendEscaped(echo, &byte, 1);
    SendAll(fd, echo);
  }
  void OnNegotiation(uint8_t verb, uint8_t option) override {
    std::lock_guard lock(records->mutex);
    records->negotiations.push_back({verb, option});
    if (verb == kWill && option == kOptionComPort) {
      SendAll(fd, ComPortCommand(kNotifyModemState + kServerOffset, {0}));
    }
  }
  void OnSubnegotiation(const Bytes& body) override {
    if (body.size() < 3 || body[0] != kOptionComPort) return;
    const uint8_t command = body[1];
    const uint8_t value = body[2];
    std::lock_guard lock(records->mutex);
    if (command == kSetControl) {
      records->controls.push_back(value);
      if ((value == kControlFlowNone && answersFlow) || value == kControlBreakOn) {
        SendAll(fd, ComPortCommand(kSetControl + kServerOffset, {value}));
      } else if (value == kControlBreakOff) {
        SendAll(fd, ComPortCommand(kSetControl + kServerOffset, {kControlBreakOn}));
      }
    } else if (command == kSetModemStateMask) {
      SendAll(fd, ComPortCommand(kNotifyModemState + kServerOffset, {0}));
    } else if (command <= kSetStopSize || command == kPurgeData) {
      SendAll(fd, ComPortCommand(command + kServerOffset, Bytes(body.begin() + 2, body.end())));
    }
  }

  int fd;
  std::shared_ptr<ServerRecords> records;
  bool answersFlow = true;
};

class Rfc2217Client : public ::testing::Test {
 protected:
  void SetUp() override { InitSerialUnit(); }
  void TearDown() override {
    ResetSerialPool();
    SetSerialDeviceOpener(nullptr);
  }

  // A port map with COM1 leading to `port` on this machine.
  void MapCom1(uint16_t port) {
    dir_.Write("COM1", "rfc2217://127.0.0.1:" + std::to_string(port) + "\n");
    if (!env_)
      env_ = std::make_unique<testing::ScopedEnv>("DOWNLOADER_PORTS", dir_.path().string());
  }
  // COM1 opened with short network waits, for servers that leave requests unanswered.
  void UseShortTimings(uint16_t port) {
    SetSerialDeviceOpener([port](const std::string&) {
      return OpenRfc2217Device("127.0.0.1", port, "COM1", Rfc2217Timing{300, 100, 100, 150});
    });
  }

  testing::TempDir dir_;
  std::unique_ptr<testing::ScopedEnv> env_;
};

TEST_F(Rfc2217Client, ToleratesSer2net) {
  auto records = std::make_shared<ServerRecords>();
  ScriptedServer tcp([records](int fd, const std::atomic<bool>& stop) {
    Ser2netLike handler(fd, records);
    Serve(fd, stop, handler);
  });
  MapCom1(tcp.port());
  TSerial port;
  auto start = Clock::now();
  ASSERT_TRUE(port.OpenPort("COM1", "9600", "None", "8", "Off", false));
  // Only the first unanswered SET-CONTROL (DTR off) costs its one-second wait.
  EXPECT_LT(MsSince(start), 1500);
  start = Clock::now();
  port.SetDTR(true);
  port.SetBreak(true);
  port.SetDTR(false);
  port.SetBreak(false);
  port.SetRTS(true);
  port.SetRTS(false);
  EXPECT_LT(MsSince(start), 200) << "an unanswered SET-CONTROL was waited for again";
  EXPECT_EQ(port.ReadBlock(0, 0), 0);
  for (uint8_t b : {0xFF, 0x00, 0x41}) {
    EXPECT_TRUE(port.WriteByte(b, 1000));
    EXPECT_EQ(port.ReadByte(200), b);
  }
  EXPECT_EQ(port.ModemStatus(), 0u);
  port.Close();

  std::lock_guard lock(records->mutex);
  EXPECT_EQ(records->data, (Bytes{0xFF, 0x00, 0x41}));  // 0xFF went out doubled, came in once
  EXPECT_EQ(records->controls,
            (Bytes{kControlFlowNone, kControlDtrOff, kControlRtsOff, kControlDtrOn, kControlBreakOn,
                   kControlDtrOff, kControlBreakOff, kControlRtsOn, kControlRtsOff}));
  // The server's ECHO is refused (a serial port must not echo at Telnet level), BINARY is
  // taken both ways, and nothing is answered twice: no negotiation loops.
  const auto& seen = records->negotiations;
  auto count = [&](uint8_t verb, uint8_t option) {
    return std::count(seen.begin(), seen.end(), std::make_pair(verb, option));
  };
  EXPECT_EQ(count(kDont, kOptionEcho), 1);
  EXPECT_EQ(count(kDo, kOptionEcho), 0);
  EXPECT_EQ(count(kWill, kOptionBinary), 1);
  EXPECT_EQ(count(kDo, kOptionBinary), 1);
  EXPECT_EQ(count(kWill, kOptionComPort), 1);
}

TEST_F(Rfc2217Client, AServerThatLeavesEveryControlUnansweredCostsOneWaitPerOpen) {
  auto records = std::make_shared<ServerRecords>();
  ScriptedServer tcp([records](int fd, const std::atomic<bool>& stop) {
    Ser2netLike handler(fd, records);
    handler.answersFlow = false;
    Serve(fd, stop, handler);
  });
  SetSerialDeviceOpener([port = tcp.port()](const std::string&) {
    return OpenRfc2217Device("127.0.0.1", port, "COM1", Rfc2217Timing{2000, 400, 400, 400});
  });
  TSerial port;
  const auto start = Clock::now();
  ASSERT_TRUE(port.OpenPort("COM1", "9600", "None", "8", "Off", false));
  port.SetDTR(true);
  port.SetRTS(true);
  // The flow setting's wait, and no other: not a second one for the DTR off that follows.
  EXPECT_LT(MsSince(start), 700);
  // They were sent all the same.
  EXPECT_EQ(port.ReadBlock(0, 0), 0);  // one more exchange: the server has read them
  std::lock_guard lock(records->mutex);
  EXPECT_EQ(records->controls, (Bytes{kControlFlowNone, kControlDtrOff, kControlRtsOff,
                                      kControlDtrOn, kControlRtsOn}));
}

TEST_F(Rfc2217Client, TheDrainIsBoundedAgainstAServerThatFloodsAndNeverAnswers) {
  ScriptedServer tcp([](int fd, const std::atomic<bool>& stop) {
    SendAll(fd, {kIac, kDo, kOptionComPort});
    struct Silent : Parser::Handler {
      void OnData(uint8_t) override {}
      void OnNegotiation(uint8_t, uint8_t) override {}
      void OnSubnegotiation(const Bytes&) override {}
    } handler;
    const Bytes flood(1024, 0x55);
    Serve(fd, stop, handler, [&] {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 0) > 0) ::send(fd, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    });
  });
  UseShortTimings(tcp.port());
  TSerial port;
  ASSERT_TRUE(port.OpenPort("COM1", "9600", "None", "8", "Off", false));
  auto start = Clock::now();
  EXPECT_GT(port.ReadBlock(0, 0), 0);
  EXPECT_LT(MsSince(start), 1000);
  // The purge went unanswered once; later drains do not wait for it again.
  start = Clock::now();
  port.ReadBlock(4097, 0);
  EXPECT_LT(MsSince(start), 100);
  // Reads still take what comes.
  EXPECT_EQ(port.ReadByte(100), 0x55);
}

TEST_F(Rfc2217Client, GarbageFromTheServerIsBoundedAndEndOfConnectionFailsTransfers) {
  ScriptedServer tcp([](int fd, const std::atomic<bool>&) {
    Bytes bytes{kIac, kDo, kOptionComPort};
    // An endless-looking subnegotiation, a lone command, unknown options, then data.
    bytes.insert(bytes.end(), {kIac, kSb, kOptionComPort, kNotifyModemState + kServerOffset});
    bytes.insert(bytes.end(), 100000, 0x20);
    bytes.insert(bytes.end(),
                 {kIac, kSe, kIac, 241, kIac, kWill, 99, kIac, kDo, 98, 'O', 'K', kIac, kIac});
    SendAll(fd, bytes);
    std::this_thread::sleep_for(300ms);
  });
  UseShortTimings(tcp.port());
  TSerial port;
  ASSERT_TRUE(port.OpenPort("COM1", "9600", "None", "8", "Off", false));
  EXPECT_EQ(port.ModemStatus(), 0u);  // the oversized notification was dropped whole
  EXPECT_EQ(port.ReadByte(1000), 'O');
  EXPECT_EQ(port.ReadByte(1000), 'K');
  EXPECT_EQ(port.ReadByte(1000), 0xFF);
  // The server hangs up: transfers fail at once from then on.
  EXPECT_EQ(port.ReadByte(2000), -1);
  const auto start = Clock::now();
  EXPECT_EQ(port.ReadByte(1000), -1);
  EXPECT_FALSE(port.WriteByte(1, 1000));
  EXPECT_EQ(port.ReadBlock(18, 1000), 0);
  port.SetDTR(true);
  EXPECT_LT(MsSince(start), 100);
}

TEST_F(Rfc2217Client, ReadsThatTimeOutBeforeAnyByteCameReturnNothing) {
  // A port with nothing attached: the probe's first read on a fresh connection gets no
  // byte, and nothing has ever been received into the buffer.
  testing::ModuleEmulator emulator({"type=3,noecho"});
  MapCom1(emulator.Port(1).tcpPort);
  TSerial port;
  ASSERT_TRUE(port.OpenPort("COM1", "9600", "None", "8", "Off", false));
  EXPECT_EQ(port.ReadByte(40), -1);
  EXPECT_EQ(port.ReadBlock(18, 40), 0);
  EXPECT_EQ(port.ReadBlock(0, 0), 0);
  EXPECT_EQ(port.ReadByte(40), -1);
}

TEST_F(Rfc2217Client, OpenFailuresKeepTheirMeaning) {
  // Nothing listens: the port does not exist.
  uint16_t closedPort = 0;
  {
    ScriptedServer probe([](int, const std::atomic<bool>&) {});
    closedPort = probe.port();
  }
  MapCom1(closedPort);
  uint32_t error = 0;
  EXPECT_EQ(AcquirePort("COM1", error), kNoPort);
  EXPECT_EQ(error, kErrorNotFound);

  // A server that hangs up at once is serving someone else.
  {
    ScriptedServer busy([](int, const std::atomic<bool>&) {});
    MapCom1(busy.port());
    EXPECT_EQ(AcquirePort("COM1", error), kNoPort);
    EXPECT_EQ(error, kErrorAccessDenied);
  }

  // A server that never agrees to COM-PORT-OPTION: the port's state cannot be read.
  ScriptedServer mute([](int, const std::atomic<bool>& stop) {
    while (!stop) std::this_thread::sleep_for(5ms);
  });
  UseShortTimings(mute.port());
  TSerial port;
  const auto start = Clock::now();
  EXPECT_FALSE(port.OpenPort("COM1", "9600", "None", "8", "Off", false));
  EXPECT_EQ(port.LastError, 0u);
  EXPECT_EQ(port.Handle, -1);
  EXPECT_LT(MsSince(start), 1000);
}

// Every wait on a network port ends at its time whatever the server sends meanwhile (a
// socket with bytes waiting is always ready): a flood of data, of IAC NOP, or one
// subnegotiation that never ends, each before and after the option agreement.
TEST(Rfc2217Limits, EveryWaitEndsAtItsTimeWhileTheServerFloods) {
  constexpr uint32_t kLimitMs = 500;
  constexpr long long kBoundMs = kLimitMs * 3 / 2;
  constexpr uint8_t kNop = 241;
  struct Flood {
    const char* name;
    Bytes bytes;
    bool endlessSub;
  };
  Bytes nops;
  for (int i = 0; i < 2048; ++i) nops.insert(nops.end(), {kIac, kNop});
  const Flood floods[] = {{"data", Bytes(4096, 0x55), false},
                          {"IAC NOP", nops, false},
                          {"endless IAC SB", Bytes(4096, 0x20), true}};
  for (const Flood& f : floods) {
    const char* name = f.name;
    for (const bool agree : {false, true}) {
      ScriptedServer tcp([&f, agree](int fd, const std::atomic<bool>& stop) {
        const Bytes& flood = f.bytes;
        if (agree) SendAll(fd, {kIac, kDo, kOptionComPort});
        if (f.endlessSub) SendAll(fd, {kIac, kSb, kOptionComPort});
        while (!stop) {
          pollfd p{fd, POLLOUT, 0};
          if (::poll(&p, 1, 20) > 0 &&
              ::send(fd, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
              errno != EAGAIN) {
            return;
          }
        }
      });
      const Rfc2217Timing timing{kLimitMs, kLimitMs, kLimitMs, kLimitMs};
      const auto start = Clock::now();
      DeviceOpenResult opened = OpenRfc2217Device("127.0.0.1", tcp.port(), "COM1", timing);
      EXPECT_LT(MsSince(start), kBoundMs) << name << ": the agreement";
      ASSERT_TRUE(opened.device) << name;
      if (!agree) continue;
      SerialDevice& device = *opened.device;
      const auto limited = [&](const char* wait, const std::function<void()>& call) {
        const auto begun = Clock::now();
        call();
        EXPECT_LT(MsSince(begun), kBoundMs) << name << ": " << wait;
      };
      limited("a SET-CONTROL's reply", [&] { device.SetDTR(true); });
      limited("the line settings' replies", [&] { device.Configure(LineSettings{}); });
      limited("the purge's reply", [&] { device.Drain(); });
      std::vector<uint8_t> buffer(1 << 21);
      limited("a read", [&] { device.Read(buffer.data(), buffer.size(), kLimitMs); });
    }
  }
}

TEST(NetworkNames, ALookupIsBoundedByTheConnectDeadline) {
  // A name server that does not answer holds getaddrinfo for seconds; the wait for it ends
  // at the deadline, and the lookup's late result is dropped safely.
  auto late = std::make_shared<std::atomic<bool>>(false);
  const auto start = Clock::now();
  EXPECT_FALSE(net::RunBefore(start + 50ms, [late] {
    std::this_thread::sleep_for(400ms);
    *late = true;
  }));
  EXPECT_LT(MsSince(start), 300);
  EXPECT_FALSE(*late);
  bool ran = false;
  EXPECT_TRUE(net::RunBefore(Clock::now() + 5s, [&ran] { ran = true; }));
  EXPECT_TRUE(ran);
}

// ---------------------------------------------------------------------------------------
// pyserial, an independent implementation of both sides.

TEST(Rfc2217Interop, PyserialClientAgainstTheEmulator) {
  testing::ModuleEmulator emulator({"type=5,version=1.3,variant=24,loopback"});
  testing::RunOptions options;
  options.args = {std::string(PYTHON_SCRIPTS) + "/pyserial_client.py",
                  std::to_string(emulator.Port(1).tcpPort)};
  options.timeout = 30s;
  const auto result = testing::RunProgram("/usr/bin/python3", options);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "ok\n") << result.err;
  const auto dump = emulator.Stop();
  EXPECT_EQ(dump.Com(1).resets, 1);
}

TEST(Rfc2217Interop, OurClientAgainstPyserialsServer) {
  InitSerialUnit();
  testing::ChildProcess server("/usr/bin/python3",
                               {std::string(PYTHON_SCRIPTS) + "/pyserial_server.py"});
  const auto tcpPort = server.ReadLine(10s);
  ASSERT_TRUE(tcpPort);
  testing::TempDir dir;
  dir.Write("COM1", "rfc2217://127.0.0.1:" + *tcpPort + "\n");
  testing::ScopedEnv env("DOWNLOADER_PORTS", dir.path().string());

  TSerial port;
  ASSERT_TRUE(port.OpenPort("COM1", "9600", "None", "8", "Off", false)) << port.LastError;
  // Every byte value, 0xFF included, goes through the loop and comes back.
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
  ASSERT_TRUE(port.WriteBuffer(all.data(), 256, 1000));
  Bytes back;
  const auto deadline = Clock::now() + 5s;
  while (back.size() < 256 && Clock::now() < deadline) {
    const int n = port.ReadBlock(static_cast<int>(256 - back.size()), 200);
    back.insert(back.end(), port.Buffer->begin(), port.Buffer->begin() + n);
  }
  EXPECT_EQ(back, all);

  // The loop port's DSR follows DTR; its server tells about changes by notifications.
  auto dsrBecomes = [&](bool on) {
    const auto until = Clock::now() + 2s;
    while (Clock::now() < until) {
      if (((port.ModemStatus() & kModemStatusDsr) != 0) == on) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  };
  port.SetDTR(true);
  EXPECT_TRUE(dsrBecomes(true));
  port.SetDTR(false);
  EXPECT_TRUE(dsrBecomes(false));
  const auto start = Clock::now();
  port.SetBreak(true);
  port.SetBreak(false);
  port.SetRTS(true);
  port.SetRTS(false);
  EXPECT_LT(MsSince(start), 900) << "pyserial answers every SET-CONTROL";
  EXPECT_EQ(port.ReadBlock(0, 0), 0);
  port.Close();
  EXPECT_EQ(server.Wait(10s), 0);
}

}  // namespace
}  // namespace downloader
