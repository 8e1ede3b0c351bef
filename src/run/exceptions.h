#pragma once

#include <exception>
#include <string>

namespace downloader {

/// Base of the command-line exceptions: one message text, nothing else.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  std::string Message;
};

/// An unknown switch, or a /COM# number outside 1..99; carries the argument as typed.
class EInvalidSwitch : public Exception {
  using Exception::Exception;
};
/// A switch repeated or in conflict with an earlier one; carries the argument as typed.
class EDuplicateSwitch : public Exception {
  using Exception::Exception;
};
/// /?, /Help or /Pipe in pipe mode; carries "/Help" or "/Pipe".
class EUnavailableSwitch : public Exception {
  using Exception::Exception;
};
/// A second file name; carries it as typed.
class EDuplicateFileName : public Exception {
  using Exception::Exception;
};
/// A requirement rule failed; carries the rule's sentence.
class EMissingParameter : public Exception {
  using Exception::Exception;
};
/// The named file does not exist; carries "'" + name + "'.".
class EFileNotFound : public Exception {
  using Exception::Exception;
};
/// The pipes or the master process could not be created; carries the numbered text.
class EPipeCreation : public Exception {
  using Exception::Exception;
};
/// The help dialog was shown and closed; no message.
class EHelp : public Exception {
  using Exception::Exception;
};

}  // namespace downloader
