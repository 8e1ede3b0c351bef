#pragma once

#include <memory>
#include <string>

#include "ui/window_system.h"

namespace downloader {

/// The window system of a loader run: the console forms until a window is first needed;
/// then, when a display exists, the toolkit's windows from the window module loaded at
/// that moment. A display whose module or toolkit cannot be loaded gets one line on
/// standard error and the console forms. Busy cursor, repaints and message-loop steps
/// never load the module, so an unattended run loads no toolkit.
std::unique_ptr<WindowSystem> MakeDisplayWindowSystem();

/// Loads the window module and opens its window system (one file per platform). Nothing
/// when there is no display (`why` left empty) or when the module or its toolkit cannot be
/// loaded (`why` says why, in one line). What it returns lives to the end of the process.
WindowSystem* LoadWindowModule(std::string& why);

/// The window module's file, and the one function it exports:
///   WindowSystem* DownloaderOpenWindows(int interface, std::string* why);
/// which gives the module's window system, or nothing with `why` set. `interface` is the
/// loader's kWindowModuleInterface; a module built for another refuses to open.
inline constexpr char kWindowModuleFile[] = "libdownloader-qt.so";
inline constexpr char kWindowModuleEntry[] = "DownloaderOpenWindows";
inline constexpr int kWindowModuleInterface = 1;
using WindowModuleEntry = WindowSystem* (*)(int, std::string*);

}  // namespace downloader
