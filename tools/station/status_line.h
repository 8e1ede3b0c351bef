#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace downloader::station {

/// One status line of the loader, framing removed.
struct StatusLine {
  std::string prefix;  ///< "ERR:", "INF:" or "EVT:" (whatever four bytes followed SOH)
  std::string text;    ///< the message, e.g. "044-Download successful!"; may hold CR LF
  int number = -1;     ///< its leading three digits; -1 when it has none
  bool final = false;  ///< it ended with EOT: the loader's request is over
};

/// The leading decimal number of a message text (at most three digits), or -1.
int MessageNumber(std::string_view text);

/// Cuts the loader's standard output into status lines as the bytes arrive, in pieces of
/// any size. A line is SOH, a four-byte prefix, the text, CR LF, and EOT when its number is
/// 100 or less. A text may hold CR LF itself (the longer error messages do), so a line
/// numbered 100 or less ends only at CR LF EOT; a higher number ends at its first CR LF.
/// Bytes outside a line are skipped; a line longer than kMaxLineBytes is dropped whole.
class StatusLineReader {
 public:
  static constexpr std::size_t kMaxLineBytes = 64 * 1024;

  /// The lines completed by `bytes`.
  std::vector<StatusLine> Feed(std::string_view bytes);
  /// At the end of the output: a line cut short after its CR LF (no EOT came) as a line
  /// that is not final; anything shorter is dropped.
  std::vector<StatusLine> Finish();

 private:
  bool inLine_ = false;
  bool dropping_ = false;
  int droppedNumber_ = -1;  // the number of the line being dropped
  std::string pending_;     // prefix and text so far, CR LF included
};

}  // namespace downloader::station
