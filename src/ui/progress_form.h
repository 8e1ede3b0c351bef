#pragma once

namespace downloader {

/// The download progress window with its port status grid.
class TProgressForm {
 public:
  virtual ~TProgressForm() = default;
};

}  // namespace downloader
