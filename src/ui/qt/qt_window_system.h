#pragma once

#include <memory>

#include "ui/window_system.h"

namespace downloader::qtui {

/// The windows drawn with Qt Widgets. Needs a QApplication; creates the information window
/// and the progress window hidden, and gives ProgressForm (when it exists) the grid font's
/// text widths. Main thread only.
std::unique_ptr<WindowSystem> MakeQtWindowSystem();

}  // namespace downloader::qtui
