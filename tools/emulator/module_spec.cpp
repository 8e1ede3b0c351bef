#include "module_spec.h"

#include <cstdio>
#include <sstream>

namespace emulator {

namespace {

bool ParseUnsigned(const std::string& text, unsigned long max, unsigned long& value) {
  if (text.empty()) return false;
  std::size_t used = 0;
  try {
    value = std::stoul(text, &used, 0);
  } catch (...) {
    return false;
  }
  return used == text.size() && value <= max;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "CODE@SLOT:PACKET" or "@SLOT:PACKET" (after the fault's name).
bool ParseWhere(const std::string& text, PacketFault& fault) {
  const auto colon = text.find(':');
  if (text.empty() || text[0] != '@' || colon == std::string::npos) return false;
  unsigned long slot = 0;
  unsigned long packet = 0;
  if (!ParseUnsigned(text.substr(1, colon - 1), 255, slot) ||
      !ParseUnsigned(text.substr(colon + 1), 1000000, packet)) {
    return false;
  }
  fault.slot = static_cast<int>(slot);
  fault.packet = static_cast<int>(packet);
  return true;
}

// The firmware version a module reports unless told otherwise: by type, one the loader
// downloads to (types 3 and 4 also take 1.1; type 5 takes 1.2 and 1.3 only).
std::string DefaultVersion(int type) {
  return type == 5 ? "1.3" : "1.0";
}

}  // namespace

uint8_t IdentCode(int type) {
  switch (type) {
    case 3:
      return 0x83;
    case 4:
      return 0x87;
    case 5:
      return 0x91;
    case 6:
      return 0x99;
    default:
      return 0;
  }
}

bool ParseModuleSpec(const std::string& text, ModuleSpec& spec, std::string& error) {
  spec = ModuleSpec{};
  std::string version;
  int reply = -1;
  int variant = 0;
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) continue;
    const auto eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    unsigned long n = 0;
    bool ok = true;
    if (key == "port") {
      ok = ParseUnsigned(value, 65535, n);
      spec.port = static_cast<uint16_t>(n);
    } else if (key == "type") {
      ok = ParseUnsigned(value, 6, n) && n >= 2;
      spec.type = static_cast<int>(n);
    } else if (key == "version") {
      version = value;
      ok = !value.empty();
    } else if (key == "reply") {
      ok = ParseUnsigned(value, 255, n);
      reply = static_cast<int>(n);
    } else if (key == "variant") {
      ok = value == "24" || value == "40";
      variant = ok ? std::stoi(value) : 0;
    } else if (key == "loopback" && eq == std::string::npos) {
      spec.loopback = true;
    } else if (key == "dsr") {
      ok = value == "on" || value == "off";
      spec.dsrOn = value == "on";
    } else if (key == "noecho" && eq == std::string::npos) {
      spec.noEcho = true;
    } else if (key == "badreply" && eq == std::string::npos) {
      spec.badReply = true;
    } else if (key == "chatter" && eq == std::string::npos) {
      spec.chatter = true;
    } else if (key == "statusdelay") {
      ok = ParseUnsigned(value, 60000, n);
      spec.statusDelayMs = static_cast<uint32_t>(n);
    } else if (key == "com") {
      ok = ParseUnsigned(value, 99, n) && n >= 1;
      spec.com = static_cast<int>(n);
    } else if (key.rfind("slotshift@", 0) == 0 || key.rfind("identfail@", 0) == 0) {
      ok = eq == std::string::npos && ParseUnsigned(key.substr(key.find('@') + 1), 7, n);
      (key[0] == 's' ? spec.shiftedSlots : spec.identFailSlots).push_back(static_cast<int>(n));
    } else if (key == "status" || key.rfind("silent@", 0) == 0 || key.rfind("drop@", 0) == 0 ||
               key.rfind("hangup@", 0) == 0 || (key == "chatter" && eq != std::string::npos)) {
      PacketFault fault;
      if (key == "status" || key == "chatter") {
        const auto at = value.find('@');
        ok = at != std::string::npos && ParseUnsigned(value.substr(0, at), 255, n) &&
             ParseWhere(value.substr(at), fault);
        fault.kind = key == "status" ? PacketFault::Kind::kStatus : PacketFault::Kind::kChatter;
        fault.status = static_cast<uint8_t>(n);
      } else {
        const auto at = key.find('@');
        ok = eq == std::string::npos && ParseWhere(key.substr(at), fault);
        fault.kind = key[0] == 's'   ? PacketFault::Kind::kSilent
                     : key[0] == 'd' ? PacketFault::Kind::kDrop
                                     : PacketFault::Kind::kHangUp;
      }
      if (ok) spec.faults.push_back(fault);
    } else {
      error = "unknown item '" + item + "'";
      return false;
    }
    if (!ok) {
      error = "bad item '" + item + "'";
      return false;
    }
  }
  if (spec.type == 0) {
    error = "type=2..6 is missing";
    return false;
  }
  if (variant != 0 && spec.type != 5 && spec.type != 6) {
    error = "variant applies to types 5 and 6 only";
    return false;
  }
  if (reply >= 0) {
    spec.reply = static_cast<uint8_t>(reply);
  } else if (spec.type == 2) {
    // "M.N" with hexadecimal digits: 1.0 is 0x10, 2.A is 0x2A.
    const std::string v = version.empty() ? DefaultVersion(spec.type) : version;
    if (v.size() != 3 || v[1] != '.' || HexDigit(v[0]) < 0 || HexDigit(v[2]) < 0) {
      error = "type 2 versions look like 1.0 or 2.A";
      return false;
    }
    spec.reply = static_cast<uint8_t>(HexDigit(v[0]) << 4 | HexDigit(v[2]));
  } else {
    const std::string v = version.empty() ? DefaultVersion(spec.type) : version;
    unsigned long minor = 0;
    if (v.size() < 3 || v.compare(0, 2, "1.") != 0 || !ParseUnsigned(v.substr(2), 15, minor)) {
      error = "versions of types 3..6 look like 1.N";
      return false;
    }
    spec.reply = static_cast<uint8_t>(IdentCode(spec.type) + minor);
  }
  if (variant == 24) spec.reply |= 0x20;
  if (variant == 40) spec.reply &= static_cast<uint8_t>(~0x20);
  return true;
}

std::string VersionText(const ModuleSpec& spec) {
  char text[16];
  if (spec.type == 2) {
    std::snprintf(text, sizeof text, "%X.%X", spec.reply >> 4, spec.reply & 0x0F);
    return text;
  }
  const int code = IdentCode(spec.type);
  const int base = (spec.type == 5 || spec.type == 6) ? (spec.reply & ~0x20) : spec.reply;
  if (base >= code && base - code < 16) {
    std::snprintf(text, sizeof text, "1.%d", base - code);
  } else {
    std::snprintf(text, sizeof text, "0x%02X", spec.reply);
  }
  return text;
}

}  // namespace emulator
