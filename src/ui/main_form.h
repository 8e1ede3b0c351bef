#pragma once

#include <string>
#include <string_view>

#include "image/date_text.h"
#include "image/object_image.h"
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
