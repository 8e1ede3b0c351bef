#include "identify/identify.h"

#include <algorithm>
#include <cstdio>

#include "image/object_image.h"
#include "run/helpers.h"
#include "serial/globals.h"
#include "serial/pool.h"

namespace downloader {

namespace {

// The port as the probe reads it, counting every byte that comes back.
struct ProbeLine {
  TSerial& serial;
  int heard = 0;

  int ReadByte(uint32_t timeoutMs) {
    const int value = serial.ReadByte(timeoutMs);
    if (value >= 0 && value <= 255) ++heard;
    return value;
  }
  /// ReadBlock's count, or -1 when the port is closed.
  int ReadBlock(int count, uint32_t timeoutMs) {
    const int got = serial.ReadBlock(count, timeoutMs);
    heard += std::max(got, 0);
    return got;
  }
};

// DTR high for the first 2 ms of a 52 ms BREAK resets the module; what it sent before is
// thrown away.
void ResetAndFlush(ProbeLine& line) {
  TSerial& port = line.serial;
  port.SetDTR(true);
  port.SetBreak(true);
  Delay(2);
  port.SetDTR(false);
  Delay(50);
  port.SetBreak(false);
  Delay(2);
  line.ReadBlock(0, 0);
}

// The name shown for an identified module of `type`: while the image carries a product
// name of its own, modules of other types show no name.
std::string DisplayName(int type) {
  if (CustomProduct && type != ImageBuffer.TargetDevice()) return std::string();
  return DeviceNameOf(type);
}

// "v" + the first two characters of the byte in upper-case hexadecimal, at least two
// digits: 0x2A gives v2.A; a missing byte (-1, FFFFFFFF) gives vF.F.
std::string Type2Version(int versionByte) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(versionByte));
  return std::string("v") + hex[0] + "." + hex[1];
}

bool IdentifyType2(ProbeLine& port, std::string& deviceName, std::string& version,
                   std::string& echo, DeviceType& foundType) {
  for (const uint8_t b : kHandshake) {
    port.serial.WriteByte(b, kProbeWriteTimeout);
    if ((port.ReadByte(kProbeReadTimeout) & 0xFF) != b) {
      echo = kNo;
      return false;
    }
    if (port.ReadByte(kProbeReadTimeout) != 256 - b) return false;
  }
  port.serial.WriteByte(0, kProbeWriteTimeout);
  port.ReadBlock(1, kProbeReadTimeout);  // the zero byte's echo
  const int versionByte = port.ReadByte(kProbeReadTimeout);
  deviceName = DisplayName(2);
  version = Type2Version(versionByte);
  foundType = 2;
  return true;
}

bool IdentifyByCode(ProbeLine& port, int type, std::string& deviceName, std::string& version,
                    std::string& echo, DeviceType& foundType) {
  const std::size_t t = static_cast<std::size_t>(type);
  const uint8_t code = IdentByte[t];
  port.serial.WriteByte(code, kProbeWriteTimeout);
  if ((port.ReadByte(kProbeReadTimeout) & 0xFF) != code) {
    echo = kNo;
    return false;
  }
  int reply = port.ReadByte(kProbeReadTimeout);
  const bool accepted =
      HasVariants[t] ? reply >= 0 && reply <= 255 && IdentReplies[t].Contains(reply & ~kVariantBit)
                     : IdentReplies[t].Contains(reply);
  if (!accepted) return false;

  deviceName = DisplayName(type);
  foundType = static_cast<DeviceType>(type);
  if (HasVariants[t]) {
    if (IdentReplies[t].Contains(reply)) {
      deviceName += "40";
    } else {
      reply &= ~kVariantBit;
      deviceName += "24";
    }
  }
  version = "v1." + std::to_string(reply - code);
  return true;
}

}  // namespace

bool IdentifyDevice(int slot, int type, std::string& deviceName, std::string& version,
                    std::string& echo, DeviceType& foundType, int* bytesHeard) {
  deviceName.clear();
  version.clear();
  echo = kYes;
  foundType = 0;

  ProbeLine port{SerialPool(slot)};
  ResetAndFlush(port);
  // No exchange is defined for other types (type 1 in particular): nothing was sent, so
  // nothing failed to echo, and the next type may still be tried.
  bool identified = false;
  if (type == 2) {
    identified = IdentifyType2(port, deviceName, version, echo, foundType);
  } else if (type >= 3 && type <= 6) {
    identified = IdentifyByCode(port, type, deviceName, version, echo, foundType);
  }
  if (bytesHeard != nullptr) *bytesHeard += port.heard;
  return identified;
}

}  // namespace downloader
