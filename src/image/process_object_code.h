#pragma once

namespace downloader {

/// The one request the loader carries out per command line: obtain the image (own file,
/// named file, or a file the user picks), validate it, then report it, download it, or
/// show it and download on confirmation. Every outcome is reported through the status
/// lines; failures after the image read has started are dropped here.
void ProcessObjectCode();

}  // namespace downloader
