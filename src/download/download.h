#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "identify/identify.h"

namespace downloader {

/// SelectTargetDevice's result when nothing is to be downloaded.
inline constexpr int kNoTarget = -10;

/// Firmware versions this loader downloads to, by DeviceType: version 1.3 is number 13.
///
///                                                        accepted     firmware
inline constexpr std::array<ByteSet, kDeviceTypeCount> DownloadVersionSets = {
    ByteSet::Of({0}),       // 0                           none
    ByteSet::Of({0}),       // 1                           none
    ByteSet::Of({10}),      // 2  Korvanetics B            1.0
    ByteSet::Of({10, 11}),  // 3  Korvanetics C            1.0, 1.1
    ByteSet::Of({10, 11}),  // 4  Korvanetics D            1.0, 1.1
    ByteSet::Of({12, 13}),  // 5  Korvanetics E            1.2, 1.3
    ByteSet::Of({10}),      // 6  Korvanetics F            1.0
};

/// The messages of a download.
inline constexpr std::string_view kMsgNotAccepted =
    "021-Can not download to this version of the device.  Contact ";
inline constexpr std::string_view kMsgNotAcceptedTail = " for updated software.";
inline constexpr std::string_view kMsgNotAcceptedNoCompany =
    "022-Can not download to this version of the device.";
inline constexpr std::string_view kMsgEepromVerifyFailure = "024-EEPROM verify failure.";
inline constexpr std::string_view kMsgCommunicationFailure =
    "025-Hardware communication failure.  Check serial cable and power supply.";
inline constexpr std::string_view kMsgDuplicatesNoPrompts =
    "026-Duplicate devices found.  Select COM port of desired unit.";
inline constexpr std::string_view kMsgSelectionCancelled = "033-User cancelled device selection.";
inline constexpr std::string_view kMsgDownloadSuccessful = "044-Download successful!";
inline constexpr std::string_view kMsgDuplicates = "102-Duplicate devices found.";
inline constexpr std::string_view kSelectionPrompt =
    "There is more than one device connected to your computer. Please click on the desired "
    "unit from the list below and click the download button.";
inline constexpr std::string_view kSuccessBox = "Download successful!";

/// Picks the module of the image's TargetDevice from the scan results in ProgressForm's
/// grid: marks every matching row "+" in column 6; one match is the result (its PortList
/// index, scrolled into view); none reports 023 and closes the window; several close the
/// window and report 026 under /NoPrompts, else ask in the selection dialog (102, then 103
/// and the window reopened in progress mode, or 033). kNoTarget when nothing is to be
/// downloaded. Main thread, after the scan.
int SelectTargetDevice();

/// The firmware version number of a Version cell: its second and fourth characters
/// ("v1.3" gives 13), as far as the cell has them.
int32_t VersionNumber(std::string_view versionCell);

/// Whether this loader downloads to a `type` module whose Version cell is `versionCell`.
/// False for a type outside the table.
bool VersionAccepted(int type, std::string_view versionCell);

/// The 021 text naming `company` (the part up to the company name cut at 111 characters,
/// the whole at 133), or the 022 text when `company` is empty.
std::string VersionRejectedText(std::string_view company);

/// One complete download of the validated ImageBuffer: product-name rule, progress
/// window, scan, target selection, 104, version gate (021/022), every slot, 044 and the
/// success box unless /NoPrompts. A port that cannot be acquired ends with 025. An image
/// without slots ends at once, silently. Main thread.
void DownloadToDevice();

/// Sends slot `slot` (0..7) of ImageBuffer to the `type` module on the open pool port
/// `poolSlot`: reset and identification exchange, the slot byte (types 3..6) and its echo,
/// every packet with its echo and status byte, then one zero byte and its echo. Advances
/// the slot's bar and blinks TXStatus (at most once per 25 ms). False after reporting 024
/// (status 2) or 025: the module not identified as `type` (then nothing more is sent), or
/// an echo that is not the bytes sent, or any other status, or none within 40 ms (the zero
/// byte still goes out). Main thread; blocks.
bool DownloadSlot(DeviceType type, int slot, int poolSlot);

}  // namespace downloader
