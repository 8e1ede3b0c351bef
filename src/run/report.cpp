#include "run/report.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "run/helpers.h"
#include "run/main_thread.h"
#include "run/run_state.h"
#include "run/standard_handles.h"
#include "run/terminal_text.h"

namespace downloader {

Handle ReadHandle = kInvalidHandle;
Handle WriteHandle = kInvalidHandle;

namespace {

int lastChannel = -1;  // main thread only
ErrorDialogHook errorDialog = nullptr;

// The reasons written since the last final status line; identification threads add theirs.
std::mutex reasonsMutex;
std::vector<std::string> reasons;

constexpr std::string_view kProgramPrefix = "downloader: ";
// A loader that runs on (a presence watch probing every tenth of a second) may write the
// same reason again and again: the dialog keeps each once, and only the first few.
constexpr std::size_t kMostReasonsKept = 16;

void ForgetReasons() {
  std::lock_guard lock(reasonsMutex);
  reasons.clear();
}

}  // namespace

std::string FormatStatusLine(int channel, std::string_view text) {
  std::string line;
  line.reserve(text.size() + 8);
  line.push_back('\x01');
  line.append(ChannelPrefixes[channel]);
  line.append(text);
  line.append("\r\n");
  if (ParseNumber(text) <= 100) line.push_back('\x04');
  return line;
}

std::string DialogText(std::string_view text) {
  const bool numbered = text.size() >= 4 && text[0] >= '0' && text[0] <= '9' && text[1] >= '0' &&
                        text[1] <= '9' && text[2] >= '0' && text[2] <= '9' && text[3] == '-';
  if (!numbered) return std::string(text);
  std::string dialog = "#";
  dialog.append(text.substr(0, 3));
  dialog.append("\r\n");
  dialog.append(text.substr(4));
  return dialog;
}

bool PipeWriteText(std::string_view text) {
  if (WriteHandle == kInvalidHandle) return false;
  // A line may be longer than a pipe's atomic write; write it whole. A failed write
  // (a reader that has gone, a full disk) ends the attempt quietly.
  while (!text.empty()) {
    const long n = WriteToHandle(WriteHandle, text.data(), text.size());
    if (n <= 0) break;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void ReportLine(int channel, std::string_view text) {
  if (!IsMainThread()) {
    PostToMainThread([channel, owned = std::string(text)] { ReportLine(channel, owned); });
    return;
  }
  lastChannel = channel;
  // Programs read status lines through pipes and files; on a terminal a person does, and an
  // image's texts in them are shown escaped (the framing bytes are the loader's own).
  if (WriteHandle != kInvalidHandle && IsTerminal(WriteHandle)) {
    PipeWriteText(FormatStatusLine(channel, TerminalText(text, true)));
    return;
  }
  PipeWriteText(FormatStatusLine(channel, text));
  // The request is over: what went wrong in it belongs to it alone.
  if (ParseNumber(text) <= 100) ForgetReasons();
}

int LastStatusChannel() {
  return lastChannel;
}

void ReportError(std::string_view text) {
  if (!IsMainThread()) {
    PostToMainThread([owned = std::string(text)] { ReportError(owned); });
    return;
  }
  const std::string why = PendingReasons();
  ReportLine(kChannelError, text);
  const bool noPrompts = (FlagTable[SwitchBits & 0x7F] & kNoPrompts) != 0;
  if (noPrompts && WriteHandle != kInvalidHandle) return;
  if (errorDialog) errorDialog(DialogText(text), why);
}

void WriteReason(std::string_view line) {
  const std::string text = std::string(line) + "\n";
  std::lock_guard lock(reasonsMutex);
  WriteToHandle(StandardError(), text.data(), text.size());
  std::string reason(line.starts_with(kProgramPrefix) ? line.substr(kProgramPrefix.size()) : line);
  if (reasons.size() < kMostReasonsKept &&
      std::find(reasons.begin(), reasons.end(), reason) == reasons.end()) {
    reasons.push_back(std::move(reason));
  }
}

std::string PendingReasons() {
  std::lock_guard lock(reasonsMutex);
  std::string joined;
  for (const std::string& reason : reasons) {
    if (!joined.empty()) joined += "\r\n";
    joined += reason;
  }
  return joined;
}

void SetErrorDialogHook(ErrorDialogHook hook) {
  errorDialog = hook;
}

}  // namespace downloader
