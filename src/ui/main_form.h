#pragma once

#include <array>
#include <string>
#include <string_view>

#include "image/date_text.h"
#include "image/object_image.h"
#include "ui/progress_form.h"
#include "ui/window_layout.h"
#include "ui/window_system.h"

namespace downloader {

/// The loader's version, shown at the end of the information window's caption.
inline constexpr int kLoaderMajorVersion = 1;
inline constexpr int kLoaderMinorVersion = 7;

/// The maker's own company text: images carrying it exactly get the fixed caption.
inline constexpr std::string_view kMakerCompany = "Veltrana, Inc.";
inline constexpr std::string_view kMakerCaption = "Veltrana, Inc. - Korvanetics Loader ";

/// What the information window shows, filled from the validated image.
struct InformationView {
  std::string caption;
  std::string product;
  std::string firmware;
  std::string checksum;
  std::string compileDate;
  std::string notes;
};

/// The information window's caption. For the maker's company text (the same 14 characters,
/// case-sensitive) the fixed "Veltrana, Inc. - Korvanetics Loader "; otherwise company +
/// " - " + product + " Loader " cut to 53, 103 and 111 characters as it grows. Then "v1.7".
std::string MainFormCaption(std::string_view company, std::string_view product);

/// The window's texts for an accepted image whose Crc field already holds its
/// DisplayChecksum: caption, product, firmware, checksum in decimal, compile date text, and
/// the three note parts joined with nothing between them. Nothing is trimmed or escaped.
InformationView MakeInformationView(const ObjectImage& image,
                                    const DateNames& names = UserDateNames());

/// The information window's field labels, top to bottom; the last one labels the notes.
inline constexpr std::array<std::string_view, 5> kInformationLabels = {
    "Product:", "Firmware:", "Checksum:", "Compile Date:", "Notes:"};
inline constexpr std::string_view kDownloadCaption = "&Download";
inline constexpr std::string_view kCancelCaption = "&Cancel";

/// The information window's designed outer size and screen position.
inline constexpr ScreenRect kInformationWindowPlace{362, 142, 376, 361};

/// Where the information window's components lie: relative to its client area, except each
/// field, which lies inside its panel (the frame around it).
struct InformationLayout {
  std::array<TControl, 5> labels;  ///< as kInformationLabels
  std::array<TControl, 4> panels;  ///< beside the first four labels
  TControl field;                  ///< in every panel
  TControl notes;
  TControl download;
  TControl cancel;
  int clientWidth = 0;
  int clientHeight = 0;
};

/// The information window laid out for `view` in the font `metrics` measures: as designed
/// (client area 368 x 334) wherever the texts fit, and grown where they need more room:
/// the label column pushes the fields right, a field widens for its value up to
/// `widthLimit` (the client width the screen allows; 0 for no limit), rows, buttons and
/// the window grow with the font. Never smaller than designed.
InformationLayout LayOutInformationWindow(const InformationView& view, const TextMetrics& metrics,
                                          int widthLimit = 0);

/// The information window. Its texts come from ImageBuffer on every display.
class TMainForm {
 public:
  TMainForm();
  virtual ~TMainForm() = default;

  /// The open-file dialog component: default extension ".obj" and the two-entry filter;
  /// the image request sets its title and initial directory on every use.
  OpenFileRequest OpenDialog;
  /// The texts of the last display.
  InformationView View;

  /// Fills View from ImageBuffer; runs on every display.
  void FormShow();
  /// Shows the window modally and returns its result: kModalOk for the Download button,
  /// kModalCancel for Cancel, Esc or closing it. Enter presses the focused button: Cancel,
  /// the default button, has the focus at open.
  int ShowModal();
};

}  // namespace downloader
