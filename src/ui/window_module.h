#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/window_system.h"

namespace downloader {

/// The window system of a loader run: the console forms until a window is first needed;
/// then, when a display exists, the toolkit's windows from the window module loaded at
/// that moment. A display whose module or toolkit cannot be loaded gets one line on
/// standard error and the console forms. Busy cursor, repaints and message-loop steps
/// never load the module, so an unattended run loads no toolkit.
std::unique_ptr<WindowSystem> MakeDisplayWindowSystem();

/// Loads the window module and opens its window system (one file per platform). The
/// candidate files are tried in order: one that is no window module of this very build
/// (it cannot be loaded, has no entry, or carries another build identity) is refused with
/// a line in `lines`, and the search goes on. Nothing when there is no display (`lines`
/// left empty); nothing with a last line that says why when no candidate is this build's
/// module, or when its toolkit cannot reach the display. Every line is one line of text.
/// What it returns lives to the end of the process.
WindowSystem* LoadWindowModule(std::vector<std::string>& lines);

/// What the module's entry answers.
enum class WindowModuleAnswer : int {
  kOpened = 0,      ///< its window system is in `*windows`
  kOtherBuild = 1,  ///< another build's module: `*why` says so, nothing was started
  kNoDisplay = 2,   ///< this build's module, but the display cannot be reached: `*why`
};

/// The window module's file, and the one function it exports:
///   WindowModuleAnswer DownloaderOpenWindowModule(const char* identity,
///                                                 WindowSystem** windows, std::string* why);
/// `identity` is the loader's build identity (the package version and a hash of the
/// interface headers the module is compiled against, stamped into both by the build); a
/// module stamped with another refuses before it starts anything.
inline constexpr char kWindowModuleFile[] = "libdownloader-qt.so";
inline constexpr char kWindowModuleEntry[] = "DownloaderOpenWindowModule";
using WindowModuleEntry = WindowModuleAnswer (*)(const char* identity, WindowSystem** windows,
                                                 std::string* why);

}  // namespace downloader
