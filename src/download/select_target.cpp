#include <array>

#include "download/download.h"
#include "image/object_image.h"
#include "run/helpers.h"
#include "run/report.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "ui/forms.h"
#include "ui/window_system.h"

namespace downloader {

int SelectTargetDevice() {
  TProgressForm& form = *ProgressForm;
  TStringGrid& grid = form.PortStatus;
  const int target = ImageBuffer.TargetDevice();
  const bool noPrompts = (RunFlags & kNoPrompts) != 0;

  int result = kNoTarget;
  std::array<int, kDeviceTypeCount> counters{};
  for (int row = 1; row < grid.RowCount(); ++row) {
    const int32_t t = ParseNumber(grid.Cell(5, row));
    // Column 5 holds 0..6 when the scan wrote it; anything else is not counted.
    const int counted = (t & 0xFF) == target ? target : t;
    if ((t & 0xFF) == target) {
      grid.SetCell(6, row, "+");
      result = row - 1;
    }
    if (counted >= 0 && counted < kDeviceTypeCount) ++counters[static_cast<std::size_t>(counted)];
  }
  const int n = target < kDeviceTypeCount ? counters[static_cast<std::size_t>(target)] : 0;

  if (n == 0) {
    ReportError("023-No " + DeviceNameOf(target) + " found.");
    form.Close();
    return kNoTarget;
  }
  if (n >= 2) {
    form.Close();
    if (noPrompts) {
      ReportLine(kChannelError, kMsgDuplicatesNoPrompts);
    } else {
      ReportLine(kChannelEvent, kMsgDuplicates);
    }
    const int m = form.Open(false, std::string(kSelectionPrompt));
    const int chosen = grid.Selection.Top;
    if (m == kModalDownload && chosen >= 1 && chosen <= static_cast<int>(PortList.size()) &&
        grid.Cell(6, chosen) == "+") {
      result = chosen - 1;
      ReportLine(kChannelEvent,
                 "103-User selected device on " + PortList[static_cast<std::size_t>(result)] + ".");
      form.Open(false, "");
    } else {
      result = kNoTarget;
      if (!noPrompts) ReportLine(kChannelEvent, kMsgSelectionCancelled);
    }
  }

  if (result >= 0) {
    const int row = result + 1;
    const int lastVisible = grid.TopRow() + TStringGrid::kVisibleDataRows - 1;
    if (row > lastVisible) {
      grid.SetTopRow(row - (TStringGrid::kVisibleDataRows - 1));
    } else if (row < grid.TopRow()) {
      grid.SetTopRow(row);
    }
  }
  return result;
}

}  // namespace downloader
