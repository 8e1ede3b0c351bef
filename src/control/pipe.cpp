#include <algorithm>

#include "control/command_line.h"
#include "control/pipe.h"
#include "run/report.h"
#include "run/standard_handles.h"
#include "serial/globals.h"

namespace downloader {

bool PipeReadText(std::string& text) {
  text.clear();
  if (ReadHandle == kInvalidHandle) return false;
  const long n = ReadFromHandle(ReadHandle, PipeBuffer.data(), kPipeBufferSize - 1);
  if (n <= 0) return false;
  PipeBuffer[static_cast<std::size_t>(n)] = '\0';
  // The text ends at the first NUL byte the master sent, if any.
  const char* begin = PipeBuffer.data();
  text.assign(begin, std::find(begin, begin + n, '\0'));
  return true;
}

std::vector<std::string> SplitPipeArguments(const std::string& text) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) arguments.push_back(text.substr(start, i - start));
  }
  return arguments;
}

bool ReadPipeArguments() {
  ArgumentList.clear();
  std::string text;
  if (!PipeReadText(text)) return false;
  ArgumentList = SplitPipeArguments(text);
  return true;
}

}  // namespace downloader
