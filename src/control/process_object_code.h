#pragma once

namespace downloader {

/// The one request the loader carries out per command line: obtain the image (own file,
/// named file, or a file the user picks), validate it, then report it, download it, or
/// show it and download on confirmation. Every outcome is reported through the status
/// lines; failures after the image read has started are dropped here. Main thread only.
void ProcessObjectCode();

/// What ProcessObjectCode calls to download the accepted image in ImageBuffer.
using DownloadHook = void (*)();

/// Installs the download; nullptr restores the default, which does nothing and reports
/// nothing.
void SetDownloadHandler(DownloadHook hook);

}  // namespace downloader
