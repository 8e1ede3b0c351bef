#pragma once

#include <string>

namespace downloader {

/// What the information window shows, filled from the validated image.
struct InformationView {
  std::string caption;
  std::string product;
  std::string firmware;
  std::string checksum;
  std::string compileDate;
  std::string notes;
};

/// The information window. Its texts come from the image on every display.
class TMainForm {
 public:
  virtual ~TMainForm() = default;
};

}  // namespace downloader
