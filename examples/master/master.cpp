// An example master program for the loader's pipe mode, in C++ for Linux and Windows: it
// does what master.py does, as a program that Windows can start (a script it cannot).
//
// Start it through the loader:
//
//     IMAGE=/path/to/prog.obj downloader /Pipe /path/to/master
//     set IMAGE=C:\path\to\prog.obj
//     downloader /Pipe examples\master.exe                            (Windows)
//
// It sends "/GetInfo IMAGE", then "/NoPrompts /Updates IMAGE"; or, when MASTER_COMMANDS is
// set, its command lines, separated by semicolons ("/GetInfo a.obj;/COM11 /NoPrompts a.obj").
//
// The loader starts this program with its standard input and output on two pipes:
//   - what this program writes to standard output is one command line per write, the same
//     switches and file name as on the loader's command line (no CR LF at the end);
//   - every status line of the loader arrives on standard input, framed as SOH, a prefix
//     ("ERR:", "INF:" or "EVT:"), the message text, CR LF, and an EOT byte after the line
//     when the message number is 100 or less (the request is over).
// Standard error is shared with the loader, so this program prints there.
//
// Send the next command line only after the final (EOT) line of the previous one: two
// command lines that reach the pipe before the loader reads are taken as one. Closing
// standard output (or exiting) ends the loader.
//
// Only standard C++: on Windows the C runtime reads standard input in text mode, which turns
// CR LF into LF, so a line end here is LF with or without the CR before it.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kSoh = '\x01';
constexpr char kEot = '\x04';

// Writes one command line in a single write.
bool Send(const std::string& command) {
  return std::fwrite(command.data(), 1, command.size(), stdout) == command.size() &&
         std::fflush(stdout) == 0;
}

// Prints one status line on standard error, its own line breaks indented.
void Show(const std::string& line) {
  std::string text = line;
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    if (at > 0 && text[at - 1] == '\r') text.erase(--at, 1);
    text.insert(at + 1, "      ");
  }
  const std::string prefix = text.substr(0, 4);
  const std::string message = text.size() > 4 ? text.substr(4) : "";
  std::fprintf(stderr, "  %s %s\n", prefix.c_str(), message.c_str());
  std::fflush(stderr);
}

// Reads the status lines of one request until its final line (followed by EOT) and prints
// them. A line ends at a line end followed by SOH (the next line) or EOT (the last), so a
// text with line breaks of its own (an image's notes) stays one line. Byte by byte: a read
// of more would wait for bytes the loader sends only after the next command line. False
// when the loader has ended.
bool ShowRequestLines() {
  std::string line;
  for (;;) {
    const int c = std::getc(stdin);
    if (c == EOF) return false;  // the loader has ended
    const bool lineEnd = !line.empty() && line.back() == '\n' && (c == kSoh || c == kEot);
    if (!lineEnd) {
      line += static_cast<char>(c);
      continue;
    }
    line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == kSoh) line.erase(0, 1);
    Show(line);
    if (c == kEot) return true;
    line.clear();
  }
}

std::vector<std::string> Commands() {
  const char* image = std::getenv("IMAGE");
  const std::string file = image != nullptr ? image : "prog.obj";
  const char* list = std::getenv("MASTER_COMMANDS");
  if (list == nullptr || *list == '\0') return {"/GetInfo " + file, "/NoPrompts /Updates " + file};
  std::vector<std::string> commands;
  std::string command;
  for (const char* c = list;; ++c) {
    if (*c == ';' || *c == '\0') {
      if (command.find_first_not_of(" \t") != std::string::npos) commands.push_back(command);
      command.clear();
      if (*c == '\0') break;
    } else {
      command += *c;
    }
  }
  return commands;
}

}  // namespace

int main() {
  for (const std::string& command : Commands()) {
    std::fprintf(stderr, "master> %s\n", command.c_str());
    std::fflush(stderr);
    if (!Send(command) || !ShowRequestLines()) break;
  }
  std::fclose(stdout);  // ends the loader
  return 0;
}
