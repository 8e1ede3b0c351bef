// The station's terminal on POSIX systems: is standard output one, its size, its colours,
// and no echo of keys while the table is live.

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "host.h"

namespace downloader::station {

namespace {

constexpr int kDefaultWidth = 80;
constexpr int kDefaultHeight = 24;

// Terminal types known to take ANSI colours, by the start of $TERM.
constexpr const char* kColourTerminals[] = {
    "xterm", "screen", "tmux", "rxvt",  "linux",  "konsole", "gnome",       "alacritty",
    "kitty", "foot",   "st-",  "putty", "cygwin", "ansi",    "vt220-color",
};

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class PosixTerminal final : public Terminal {
 public:
  PosixTerminal() {
    const std::string term = Env("TERM");
    live_ = ::isatty(STDOUT_FILENO) == 1 && !term.empty() && term != "dumb";
    if (live_ && Env("NO_COLOR").empty()) {
      colours_ = !Env("COLORTERM").empty() || term.find("color") != std::string::npos;
      for (const char* prefix : kColourTerminals) {
        colours_ = colours_ || term.rfind(prefix, 0) == 0;
      }
    }
  }

  ~PosixTerminal() override { Quiet(false); }

  bool Live() override { return live_; }
  bool InputIsTerminal() override { return ::isatty(STDIN_FILENO) == 1; }
  bool Colours() override { return colours_; }

  int Width() override {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return FromEnv("COLUMNS", kDefaultWidth);
  }

  int Height() override {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
    return FromEnv("LINES", kDefaultHeight);
  }

  void Out(std::string_view text) override { WriteAll(STDOUT_FILENO, text); }
  void Err(std::string_view text) override { WriteAll(STDERR_FILENO, text); }

  void Quiet(bool quiet) override {
    if (quiet && !saved_ && Foreground()) {
      termios settings{};
      if (::tcgetattr(STDIN_FILENO, &settings) != 0) return;
      saved_ = settings;
      settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      ::tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    } else if (!quiet && saved_) {
      ::tcsetattr(STDIN_FILENO, TCSANOW, &*saved_);
      saved_.reset();
    }
  }

  void FlushInput() override {
    if (Foreground()) ::tcflush(STDIN_FILENO, TCIFLUSH);
  }

 private:
  // Standard input is a terminal and the station is its foreground job: changing the
  // terminal from the background would stop the station (SIGTTOU).
  static bool Foreground() {
    return ::isatty(STDIN_FILENO) == 1 && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
  }

  static int FromEnv(const char* name, int fallback) {
    const int value = std::atoi(Env(name).c_str());
    return value > 0 ? value : fallback;
  }

  bool live_ = false;
  bool colours_ = false;
  std::optional<termios> saved_;
};

}  // namespace

std::unique_ptr<Terminal> MakeSystemTerminal() {
  return std::make_unique<PosixTerminal>();
}

}  // namespace downloader::station
