#pragma once

#include <string>
#include <vector>

namespace downloader {

/// Starts ObjectFileName as the master program, its standard input and output on two new
/// pipes and its standard error inherited, with no arguments, in the current directory.
/// Only then do ReadHandle and WriteHandle become the loader's pipe ends, and PipeMode is
/// set. The master inherits none of the loader's own ends. Throws EPipeCreation with the
/// 006 or 007 text.
void StartMasterProgram();

/// One read of at most 1,024 bytes from ReadHandle, taken up to its first NUL byte. False
/// at end of file, on a read error, or when there is no read handle.
bool PipeReadText(std::string& text);

/// Reads one command line and splits it at spaces and TABs into ArgumentList (CR and LF
/// stay part of an argument). False, with ArgumentList empty, when the read failed.
bool ReadPipeArguments();

/// Splits a command line at runs of spaces and TABs.
std::vector<std::string> SplitPipeArguments(const std::string& text);

/// Reaps the master if it has already ended; never waits for a live one.
void ReapMasterProgram();

}  // namespace downloader
