#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace downloader {

class TProgressForm;

/// Asks one question and gives the answer line, or nothing at the end of input.
using ConsoleAsker = std::function<std::optional<std::string>(std::string_view question)>;

/// The selection dialog on a terminal: the prompt and the rows marked "+" go to standard
/// error, then `ask` is asked for a port ("COM3", "com3:" or "3") until the answer names a
/// marked row or is empty. A marked row becomes the grid's selection and the result is
/// kModalDownload; an empty answer or the end of input gives kModalCancel.
int AskForTargetRow(TProgressForm& form, const ConsoleAsker& ask);

}  // namespace downloader
