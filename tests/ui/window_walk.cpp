#include "ui/window_walk.h"

#include <algorithm>

#include "control/command_line.h"
#include "download/download.h"
#include "image/image_builder.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"

namespace downloader::testing {

namespace {

std::string Describe(const ScreenRect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.width) +
         "x" + std::to_string(r.height);
}

bool Overlap(const ScreenRect& a, const ScreenRect& b) {
  if (a.width <= 0 || a.height <= 0 || b.width <= 0 || b.height <= 0) return false;
  return a.left < b.Right() && b.left < a.Right() && a.top < b.Bottom() && b.top < a.Bottom();
}

void CheckLevel(const std::vector<WalkedControl>& controls, int width, int height,
                const std::string& path, std::vector<std::string>& faults) {
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const WalkedControl& control = controls[i];
    const ScreenRect& r = control.rect;
    const std::string name = path + control.name;
    if (r.left < 0 || r.top < 0 || r.Right() > width || r.Bottom() > height) {
      faults.push_back(name + " at " + Describe(r) + " is not whole inside its parent's " +
                       std::to_string(width) + "x" + std::to_string(height));
    }
    if (control.text && (control.text->width > control.textRoom.width ||
                         control.text->height > control.textRoom.height)) {
      faults.push_back(name + ": its text needs " + std::to_string(control.text->width) + "x" +
                       std::to_string(control.text->height) + ", the control gives it " +
                       std::to_string(control.textRoom.width) + "x" +
                       std::to_string(control.textRoom.height));
    }
    for (std::size_t j = i + 1; j < controls.size(); ++j) {
      if (Overlap(r, controls[j].rect)) {
        faults.push_back(name + " at " + Describe(r) + " overlaps " + path + controls[j].name +
                         " at " + Describe(controls[j].rect));
      }
    }
    CheckLevel(control.children, r.width, r.height, name + " / ", faults);
  }
}

// The four ports as a scan leaves them; `inUse` reports the last one held by another program.
void FillScan(TStringGrid& grid, bool inUse) {
  const std::vector<std::vector<std::string>> rows = {
      {"Korvanetics C", "v1.1", "No", "Yes", "3"},
      {"Korvanetics D", "v1.0", "No", "Yes", "4"},
      {"Korvanetics C", "v1.0", "Yes", "Yes", "3"},
      {inUse ? "can't open port; in use" : "invalid port", "", "", "", "0"},
  };
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      grid.SetCell(static_cast<int>(c) + 1, static_cast<int>(r) + 1, rows[r][c]);
    }
  }
}

ImageDescription UserImage(int slotCount) {
  ImageDescription image;
  image.targetDevice = 3;
  image.company = "Aqualine Systems";
  image.product = "Korvanetics C";
  image.firmware = "Flow controller 2.1";
  image.compileTime = 45197.5;  // Wednesday, September 27, 2023, 12:00 pm: a long date text
  image.notes = {"Flow controller firmware for the DP-40 dosing pump.\r\n\r\n",
                 "Calibrate the flow sensor after every download.", ""};
  for (int s = 0; s < slotCount; ++s) image.slots.push_back(std::vector<uint8_t>(18 * 4, 0x5A));
  return image;
}

}  // namespace

std::string Quoted(std::string_view text) {
  std::string_view line = text.substr(0, text.find_first_of("\r\n"));
  const bool cut = line.size() > 40 || line.size() < text.size();
  return "\"" + std::string(line.substr(0, 40)) + (cut ? "...\"" : "\"");
}

std::vector<std::string> LayoutFaults(const WalkedWindow& window, const ScreenRect& workArea) {
  std::vector<std::string> faults;
  const ScreenRect& w = window.outer;
  if (w.left < workArea.left || w.top < workArea.top || w.Right() > workArea.Right() ||
      w.Bottom() > workArea.Bottom()) {
    faults.push_back("the window at " + Describe(w) + " is not whole inside the work area " +
                     Describe(workArea));
  }
  CheckLevel(window.controls, window.clientWidth, window.clientHeight, "", faults);
  return faults;
}

std::vector<std::string> WalkEveryWindow(WindowProbe& probe, std::vector<std::string>* shown) {
  std::vector<std::string> faults;
  const ScreenRect area = probe.WorkArea();
  auto check = [&](const std::string& name, const std::optional<WalkedWindow>& walked) {
    if (!walked) {
      faults.push_back(name + ": not shown");
      return;
    }
    if (shown != nullptr) {
      shown->push_back(name + " at " + Describe(walked->outer) + ", client " +
                       std::to_string(walked->clientWidth) + "x" +
                       std::to_string(walked->clientHeight));
    }
    for (const std::string& fault : LayoutFaults(*walked, area)) {
      faults.push_back(name + ": " + fault);
    }
  };
  PortList = {"COM1", "COM2", "COM3", "COM4"};
  std::optional<WalkedWindow> walked;

  ImageBuffer = BuildImage(UserImage(2));
  probe.WalkNextModal(walked);
  Windows().ShowInformationWindow(MakeInformationView(ImageBuffer));
  check("information window", walked);

  for (const int slots : {1, 8}) {
    ImageBuffer = BuildImage(UserImage(slots));
    TProgressForm& form = *ProgressForm;
    form.Open(true, "");
    FillScan(form.PortStatus, slots == 8);
    // During the scan "Scanning..." shows; during the transfer the indicator beside row 1.
    form.ScanningText.Visible = slots == 1;
    form.TXStatus.Top = form.PortStatus.Top + 25;
    form.TXStatus.Visible = slots == 8;
    for (int slot = 0; slot < slots; ++slot) form.ProgressBar(slot).Progress = 4;
    form.Repaint();
    check("progress window with " + std::to_string(slots) + " slot" + (slots > 1 ? "s" : ""),
          probe.WalkShown());
    form.ScanningText.Visible = false;
    form.Close();
  }

  ImageBuffer = BuildImage(UserImage(2));
  ProgressForm->Open(true, "");
  FillScan(ProgressForm->PortStatus, false);
  ProgressForm->Close();
  ProgressForm->PortStatus.SetCell(6, 1, "+");
  ProgressForm->PortStatus.SetCell(6, 3, "+");
  probe.WalkNextModal(walked);
  ProgressForm->Open(false, std::string(kSelectionPrompt));
  check("selection dialog", walked);

  // An error of several lines, naming a file deep in a folder, with the reasons below.
  probe.WalkNextModal(walked);
  Windows().ErrorDialog(
      "#012\nChecksum Error.  Data is corrupt in file "
      "\"C:\\Users\\Production\\Firmware\\Aqualine DP-40\\flow-controller-2.1.obj\".",
      "The file holds 19,391 bytes; its checksum is 0x3A7C, its contents give 0x3A7D.\n"
      "It may have been cut short or changed after it was made.");
  check("error dialog", walked);

  probe.WalkNextModal(walked);
  Windows().MessageBox(std::string(kSuccessBox));
  check("success box", walked);

  probe.WalkNextModal(walked);
  Windows().MessageDialog(HelpText("downloader"));
  check("help", walked);
  return faults;
}

std::vector<WalkedControl> GridCells(const TStringGrid& grid,
                                     const std::function<TextSize(std::string_view)>& measure) {
  std::vector<WalkedControl> cells;
  constexpr int kInset = 2;  // the frame around the cells, and a text's inset in its cell
  const int visibleRows = std::min(grid.RowCount(), TStringGrid::kVisibleDataRows + 1);
  for (int k = 0; k < visibleRows; ++k) {
    const int row = k == 0 ? 0 : grid.TopRow() + k - 1;
    int left = 0;
    for (int col = 0; col < 5; ++col) {
      const int width = grid.ColWidths[static_cast<std::size_t>(col)];
      if (width > 0) {
        const std::string& text = grid.Cell(col, row);
        WalkedControl cell{
            "cell " + std::to_string(col) + "," + std::to_string(row) + " " + Quoted(text),
            ScreenRect{kInset + left, kInset + grid.RowPitch() * k, width, grid.DefaultRowHeight},
            std::nullopt,
            ScreenRect{kInset, kInset, width - kInset, grid.DefaultRowHeight - kInset},
            {}};
        if (!text.empty()) cell.text = measure(text);
        cells.push_back(cell);
      }
      left += width + 1;
    }
  }
  return cells;
}

}  // namespace downloader::testing
