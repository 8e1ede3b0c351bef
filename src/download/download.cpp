#include "download/download.h"

#include <algorithm>

#include "identify/scan.h"
#include "image/object_image.h"
#include "run/helpers.h"
#include "run/report.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "serial/pool.h"
#include "ui/forms.h"
#include "ui/window_system.h"

namespace downloader {

namespace {

constexpr std::size_t kNotAcceptedHeadLimit = 111;  // up to the end of the company name
constexpr std::size_t kNotAcceptedLimit = 133;

}  // namespace

int32_t VersionNumber(std::string_view versionCell) {
  std::string digits;
  if (versionCell.size() > 1) digits += versionCell[1];
  if (versionCell.size() > 3) digits += versionCell[3];
  return ParseNumber(digits);
}

bool VersionAccepted(int type, std::string_view versionCell) {
  if (type < 0 || type >= kDeviceTypeCount) return false;
  return DownloadVersionSets[static_cast<std::size_t>(type)].Contains(VersionNumber(versionCell) &
                                                                      0xFF);
}

std::string VersionRejectedText(std::string_view company) {
  if (company.empty()) return std::string(kMsgNotAcceptedNoCompany);
  std::string text = std::string(kMsgNotAccepted) + std::string(company);
  text.resize(std::min(text.size(), kNotAcceptedHeadLimit));
  text += kMsgNotAcceptedTail;
  text.resize(std::min(text.size(), kNotAcceptedLimit));
  return text;
}

void DownloadToDevice() {
  const bool noPrompts = (RunFlags & kNoPrompts) != 0;
  Windows().SetBusyCursor(true);
  if (!noPrompts) Windows().BringToForeground();

  const DeviceType target = ImageBuffer.TargetDevice();
  if (target < kDeviceTypeCount) {
    const std::string product = ImageBuffer.ProductName();
    if (product != DeviceNames[target]) CustomProduct = true;
    DeviceNames[target] = product;
  }

  // The image has eight slot records; no slot beyond them exists.
  const int slotCount = std::min<int>(ImageBuffer.SlotCount(), image_layout::kSlotsPerImage);
  if (slotCount == 0) {
    Windows().SetBusyCursor(false);
    return;
  }

  TProgressForm& form = *ProgressForm;
  form.Open(true, "");
  ScanPorts(target);
  const int b = SelectTargetDevice();
  if (b == kNoTarget) return;

  const std::string& portName = PortList[static_cast<std::size_t>(b)];
  ReportLine(kChannelEvent, "104-Downloading to " + portName + ".");

  form.TXStatus.Top = form.PortStatus.Top + 25 + 19 * (b + 1 - form.PortStatus.TopRow());
  form.TXStatus.Visible = true;
  form.Repaint();

  if (VersionAccepted(target, form.PortStatus.Cell(2, b + 1))) {
    uint32_t error = 0;
    const int p = AcquirePort(portName, error);
    if (p < -3) {
      // The scan found the module on this port a moment ago; a caller must still learn
      // that the download did not happen.
      ReportError(kMsgCommunicationFailure);
    } else {
      bool ok = true;
      for (int s = 0; s < slotCount && ok; ++s) ok = DownloadSlot(target, s, p);
      SerialPool(p).Close();
      if (ok) {
        ReportLine(kChannelEvent, kMsgDownloadSuccessful);
        if (!noPrompts) Windows().MessageBox(std::string(kSuccessBox));
      }
    }
  } else {
    ReportError(VersionRejectedText(ImageBuffer.CompanyName()));
  }

  form.Close();
  Windows().SetBusyCursor(false);
}

}  // namespace downloader
