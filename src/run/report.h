#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace downloader {

/// Platform handle of the status channel and of the command-line source: on POSIX a file
/// descriptor, on Windows a HANDLE's value. kInvalidHandle (all bits set) means there is
/// none.
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

/// Where pipe command lines are read from; standard input, or the pipe from the master.
extern Handle ReadHandle;
/// Where every status line goes; standard output, or the pipe to the master.
extern Handle WriteHandle;

/// Status line channels and their prefixes.
inline constexpr int kChannelError = 0;  ///< "ERR:"
inline constexpr int kChannelInfo = 1;   ///< "INF:"
inline constexpr int kChannelEvent = 2;  ///< "EVT:"
inline constexpr std::string_view ChannelPrefixes[3] = {"ERR:", "INF:", "EVT:"};

/// The bytes of one status line: SOH, the channel prefix, the text unchanged (NUL bytes
/// included), CR LF, and EOT when the text's leading number is 100 or less.
std::string FormatStatusLine(int channel, std::string_view text);

/// The error dialog's text: "#" + the three digits, CR LF, the text from its fifth
/// character. A text that does not start with three digits and a hyphen is shown as is.
std::string DialogText(std::string_view text);

/// Writes `text` to WriteHandle, whole, however long. False (nothing written) when there
/// is no output handle. A failed write (closed pipe, full disk) is ignored.
bool PipeWriteText(std::string_view text);

/// Writes one status line. Main thread; a call from another thread is posted to it.
void ReportLine(int channel, std::string_view text);

/// The channel of the last status line written (kChannelError ...); -1 before the first.
int LastStatusChannel();

/// Writes an "ERR:" line, then shows the error dialog unless /NoPrompts is among the
/// switches seen so far and there is an output handle. Returns when the dialog is closed.
/// Main thread; a call from another thread is posted to it and never shows a dialog there.
void ReportError(std::string_view text);

/// Writes one line to standard error that says why something failed, beside the status
/// line that says what (`line` without its newline; "downloader: " starts it). The lines
/// written since the last final status line (number 100 or less) are also shown under the
/// text of the next error dialog: a person who started the loader from the desktop sees no
/// standard error (each reason once, the first 16). Any thread; each line is written in one
/// piece.
void WriteReason(std::string_view line);

/// The reasons WriteReason kept since the last final status line, as the error dialog
/// shows them: one a line (CR LF between them), without the leading "downloader: ".
std::string PendingReasons();

/// Shows ReportError's dialog: brings the loader to the foreground, beeps, and shows
/// `dialogText` (the error's DialogText) in a modal error dialog, with `reasons`
/// (PendingReasons, possibly empty) under it; returns when it is closed. Main thread.
using ErrorDialogHook = void (*)(const std::string& dialogText, const std::string& reasons);

/// Installs how ReportError shows its dialog; the window door installs its own when a
/// window system is installed (SetWindowSystem). nullptr, the start-up value: no dialog,
/// the status line alone.
void SetErrorDialogHook(ErrorDialogHook hook);

}  // namespace downloader
