#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace downloader {

/// A module type, 0..6; 0 means none identified.
using DeviceType = uint8_t;
inline constexpr int kDeviceTypeCount = 7;

/// A set of byte values 0..255 stored as a 256-bit map: value v is in the set when bit
/// (v mod 8) of byte (v div 8) is 1. Values outside 0..255 are never in it.
struct ByteSet {
  std::array<uint8_t, 32> bits{};

  constexpr bool Contains(int value) const {
    if (value < 0 || value > 255) return false;
    return (bits[static_cast<std::size_t>(value / 8)] >> (value % 8) & 1) != 0;
  }
  static constexpr ByteSet Of(std::initializer_list<int> values) {
    ByteSet set;
    for (int v : values) {
      set.bits[static_cast<std::size_t>(v / 8)] =
          static_cast<uint8_t>(set.bits[static_cast<std::size_t>(v / 8)] | 1 << (v % 8));
    }
    return set;
  }
};

/// The display names every run starts with, by DeviceType.
inline constexpr std::array<std::string_view, kDeviceTypeCount> kStandardDeviceNames = {
    "Unknown",       "Korvanetics A", "Korvanetics B", "Korvanetics C",
    "Korvanetics D", "Korvanetics E", "Korvanetics F",
};

/// The display names by DeviceType. The download puts the image's product name into the
/// entry of its type; main thread only, never while a scan runs.
extern std::array<std::string, kDeviceTypeCount> DeviceNames;

/// Puts the standard names back (start-up and tests).
void ResetDeviceNames();

/// The name of `type`, or an empty text for a type outside the table.
std::string DeviceNameOf(int type);

/// The identification exchanges. Type 2 has its own three-byte handshake; types 3..6 send
/// one code byte and accept the replies of their set; types 5 and 6 also accept a reply
/// with the variant bit 0x20 set. Types 0 and 1 have no exchange.
///
///              DeviceType:  0  1  2  3     4     5     6
inline constexpr std::array<uint8_t, kDeviceTypeCount> IdentByte = {0,    0,    0,   0x83,
                                                                    0x87, 0x91, 0x99};
inline constexpr std::array<ByteSet, kDeviceTypeCount> IdentReplies = {
    ByteSet{},                                                // 0
    ByteSet{},                                                // 1
    ByteSet{},                                                // 2: any version byte
    ByteSet::Of({0x83, 0x84, 0x85}),                          // 3: v1.0 .. v1.2
    ByteSet::Of({0x87, 0x88, 0x89}),                          // 4: v1.0 .. v1.2
    ByteSet::Of({0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97}),  // 5: v1.0 .. v1.6
    ByteSet::Of({0x99, 0x9A, 0x9B, 0x9C}),                    // 6: v1.0 .. v1.3
};
inline constexpr std::array<bool, kDeviceTypeCount> HasVariants = {false, false, false, false,
                                                                   false, true,  true};
/// Set in a reply of types 5 and 6: the "24" variant; clear: "40".
inline constexpr uint8_t kVariantBit = 0x20;
/// The type 2 handshake; each byte is answered by its two's complement.
inline constexpr std::array<uint8_t, 3> kHandshake = {'K', 'V', 'Q'};

/// Probe timeouts, in milliseconds.
inline constexpr uint32_t kProbeWriteTimeout = 1000;
inline constexpr uint32_t kProbeReadTimeout = 40;

/// What the probe found out.
inline constexpr char kYes[] = "Yes";
inline constexpr char kNo[] = "No";

/// Asks the module on the open pool port `slot` (-3..0) whether it is of `type`: resets it
/// with the DTR and BREAK pulse (about 54 ms), drains the receive queue, then runs the
/// type's exchange (writes 1,000 ms, reads 40 ms each). All four outputs are reset first
/// (empty, empty, "Yes", 0). True when the module answered as a `type` module; then
/// `deviceName` is its display name (with "24"/"40" for types 5 and 6; only the suffix
/// for a type other than the image's while CustomProduct is set), `version` its firmware
/// text and `foundType` = `type`. `echo` is "No" when a byte sent did not come back.
/// Types outside 2..6 never identify: after the reset the result is false, `echo` "Yes".
/// `bytesHeard`, when given, is increased by every byte that came back: drained after the
/// reset, echoes and answers.
/// Never reports and never throws; the port is left open. Any thread.
bool IdentifyDevice(int slot, int type, std::string& deviceName, std::string& version,
                    std::string& echo, DeviceType& foundType, int* bytesHeard = nullptr);

}  // namespace downloader
