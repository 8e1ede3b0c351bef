#include "identify/fake_module.h"

#include <algorithm>
#include <thread>

#include "identify/identify.h"
#include "serial/pool.h"

namespace downloader::testing {

namespace {

class FakeDevice final : public SerialDevice {
 public:
  FakeDevice(std::shared_ptr<FakeModule> module, FakePorts* ports)
      : module_(std::move(module)), ports_(ports) {}
  ~FakeDevice() override {
    module_->Closed();
    ports_->DeviceClosed();
  }

  bool ReadState() override { return true; }
  bool Configure(const LineSettings&) override { return true; }
  int Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) override {
    return module_->Read(buffer, count, timeoutMs);
  }
  bool Write(const uint8_t* bytes, std::size_t count, uint32_t) override {
    return module_->Write(bytes, count);
  }
  int Drain() override { return module_->Drain(); }
  void SetDTR(bool on) override { module_->SetLine("DTR", on); }
  void SetRTS(bool on) override { module_->SetLine("RTS", on); }
  void SetBreak(bool on) override { module_->SetLine("BREAK", on); }
  uint32_t ModemStatus() override { return module_->ModemStatus(); }

 private:
  std::shared_ptr<FakeModule> module_;
  FakePorts* ports_;
};

}  // namespace

std::vector<std::vector<uint8_t>> FakeModule::Writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::vector<uint8_t> FakeModule::FirstBytesAfterResets() const {
  std::lock_guard lock(mutex_);
  return firstBytes_;
}

std::vector<LineEvent> FakeModule::LineEvents() const {
  std::lock_guard lock(mutex_);
  return lineEvents_;
}

std::map<int, std::vector<std::array<uint8_t, 18>>> FakeModule::Stored() const {
  std::lock_guard lock(mutex_);
  return stored_;
}

std::vector<int> FakeModule::SlotBytes() const {
  std::lock_guard lock(mutex_);
  return slotBytes_;
}

int FakeModule::SlotEnds() const {
  std::lock_guard lock(mutex_);
  return slotEnds_;
}

int FakeModule::Resets() const {
  std::lock_guard lock(mutex_);
  return resets_;
}

int FakeModule::Opens() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

void FakeModule::HoldWrites() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

void FakeModule::ReleaseWrites() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  released_.notify_all();
}

int FakeModule::WritesStarted() const {
  std::lock_guard lock(mutex_);
  return writesStarted_;
}

bool FakeModule::Open() {
  std::lock_guard lock(mutex_);
  if (open_) return false;
  if (config_.refuseOpensAfter >= 0 && opens_ >= config_.refuseOpensAfter) return false;
  open_ = true;
  ++opens_;
  dropped_ = false;
  handshakesThisOpen_ = 0;
  rx_.clear();
  return true;
}

void FakeModule::Closed() {
  std::lock_guard lock(mutex_);
  open_ = false;
}

int FakeModule::Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  if (dropped_) return -1;
  if (rx_.empty() && config_.emptyReadWait.count() > 0) {
    lock.unlock();
    std::this_thread::sleep_for(
        std::min(config_.emptyReadWait, std::chrono::milliseconds(timeoutMs)));
    lock.lock();
  }
  const std::size_t n = std::min(count, rx_.size());
  std::copy_n(rx_.begin(), n, buffer);
  rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}

bool FakeModule::Write(const uint8_t* bytes, std::size_t count) {
  std::unique_lock lock(mutex_);
  ++writesStarted_;
  released_.wait(lock, [this] { return !held_; });
  if (dropped_) return false;
  writes_.emplace_back(bytes, bytes + count);
  // A lone zero byte at a packet boundary ends the slot.
  if (state_ == State::kPackets && count == 1 && bytes[0] == 0 && packet_.empty()) {
    ++slotEnds_;
    state_ = State::kEnded;
    if (config_.echo) rx_.push_back(0);
    return true;
  }
  for (std::size_t i = 0; i < count && !dropped_; ++i) Receive(bytes[i]);
  return true;
}

void FakeModule::Answer(int b) {
  if (b >= 0) rx_.push_back(static_cast<uint8_t>(b));
}

void FakeModule::Receive(uint8_t b) {
  if (config_.type == 0) return;
  if (afterReset_) {
    firstBytes_.push_back(b);
    afterReset_ = false;
  }
  if (config_.echo) rx_.push_back(b);
  if (config_.type < 2 || config_.type > 6) return;

  switch (state_) {
    case State::kIdle:
      if (config_.type == 2 && b == kHandshake[0]) {
        handshakeIndex_ = 0;
        state_ = State::kHandshake;
        Receive2(b);
      } else if (config_.type != 2 && b == IdentByte[static_cast<std::size_t>(config_.type)]) {
        Answer(config_.reply);
        state_ = State::kSlotByte;
      }
      break;
    case State::kHandshake:
      Receive2(b);
      break;
    case State::kVersion:
      if (b != 0) {
        state_ = State::kEnded;
        break;
      }
      Answer(config_.reply);
      slot_ = handshakesThisOpen_++;  // type 2 slots follow each other without a slot byte
      packetIndex_ = 0;
      state_ = State::kPackets;
      break;
    case State::kSlotByte:
      slot_ = b;
      slotBytes_.push_back(b);
      packetIndex_ = 0;
      state_ = State::kPackets;
      break;
    case State::kPackets:
      packet_.push_back(b);
      if (packet_.size() < 18) break;
      if (slot_ == config_.faultSlot && packetIndex_ == config_.faultPacket) {
        if (config_.faultDrops) {
          dropped_ = true;
        } else {
          Answer(config_.faultStatus);
        }
      } else {
        std::array<uint8_t, 18> stored;
        std::copy(packet_.begin(), packet_.end(), stored.begin());
        stored_[slot_].push_back(stored);
        Answer(0);
      }
      packet_.clear();
      ++packetIndex_;
      break;
    case State::kEnded:
      break;
  }
}

void FakeModule::Receive2(uint8_t b) {
  if (b != kHandshake[static_cast<std::size_t>(handshakeIndex_)]) {
    state_ = State::kEnded;
    return;
  }
  if (handshakeIndex_ == config_.wrongHandshakeAt) {
    Answer(0x00);
    state_ = State::kEnded;
    return;
  }
  Answer(256 - b);
  if (++handshakeIndex_ == static_cast<int>(kHandshake.size())) state_ = State::kVersion;
}

int FakeModule::Drain() {
  std::lock_guard lock(mutex_);
  lineEvents_.push_back({"DRAIN", std::chrono::steady_clock::now()});
  const int n = static_cast<int>(rx_.size());
  rx_.clear();
  return n;
}

void FakeModule::SetLine(const char* line, bool on) {
  std::lock_guard lock(mutex_);
  const std::string name = line;
  lineEvents_.push_back({name + (on ? "+" : "-"), std::chrono::steady_clock::now()});
  if (name == "RTS") rts_ = on;
  if (name != "BREAK") return;
  if (on) {
    breakOn_ = true;
  } else if (breakOn_) {
    breakOn_ = false;
    ++resets_;
    state_ = State::kIdle;
    handshakeIndex_ = 0;
    packet_.clear();
    afterReset_ = true;
  }
}

uint32_t FakeModule::ModemStatus() const {
  std::lock_guard lock(mutex_);
  const bool dsr = config_.dsrAlwaysOn || (config_.loopback && rts_);
  return dsr ? kModemStatusDsr : 0;
}

FakePorts::FakePorts() {
  SetSerialDeviceOpener([this](const std::string& comName) { return Open(comName); });
}

FakePorts::~FakePorts() {
  ResetSerialPool();  // no device of ours outlives us
  SetSerialDeviceOpener(nullptr);
}

std::shared_ptr<FakeModule> FakePorts::Attach(const std::string& comName, ModuleConfig config) {
  auto module = std::make_shared<FakeModule>(config);
  std::lock_guard lock(mutex_);
  modules_[comName] = module;
  return module;
}

void FakePorts::FailOpen(const std::string& comName, uint32_t error) {
  std::lock_guard lock(mutex_);
  failures_[comName] = error;
}

std::vector<std::string> FakePorts::OpenAttempts() const {
  std::lock_guard lock(mutex_);
  return attempts_;
}

DeviceOpenResult FakePorts::Open(const std::string& comName) {
  DeviceOpenResult result;
  std::shared_ptr<FakeModule> module;
  {
    std::lock_guard lock(mutex_);
    attempts_.push_back(comName);
    if (const auto failure = failures_.find(comName); failure != failures_.end()) {
      result.error = failure->second;
      return result;
    }
    const auto found = modules_.find(comName);
    if (found == modules_.end()) {
      result.error = kErrorNotFound;
      return result;
    }
    module = found->second;
  }
  if (!module->Open()) {
    result.error = kErrorAccessDenied;
    return result;
  }
  const int now = ++open_;
  int seen = maxOpen_;
  while (now > seen && !maxOpen_.compare_exchange_weak(seen, now)) {
  }
  result.device = std::make_unique<FakeDevice>(module, this);
  return result;
}

void FakePorts::DeviceClosed() {
  --open_;
}

}  // namespace downloader::testing
