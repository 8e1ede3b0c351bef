// The station's processes, Ctrl-C and files on Windows.
//
// Anonymous pipes cannot be waited on with other handles, so each loader's two pipes are
// read by a thread of their own and a third waits for its end; they hand what they get to
// the event queue that Wait takes from. Each loader inherits exactly its own ends of its
// pipes (PROC_THREAD_ATTRIBUTE_HANDLE_LIST): one that held another's would keep that
// other's output open after it ended.

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "host.h"
#include "platform/safe_files.h"
#include "text_win32.h"

namespace downloader::station {

namespace {

using namespace std::chrono_literals;

constexpr DWORD kReadChunk = 64 * 1024;
/// A loader's end is reported once its pipes have ended, or this long after it exited when
/// something it left behind still holds them.
constexpr auto kPipeGrace = 2s;
/// How long a console read that ended without a line waits for the control handler to
/// report Ctrl-C before it counts as the end of input.
constexpr auto kControlReportGrace = 500ms;
/// How often the console's size is looked at while a wait goes on.
constexpr auto kSizeLook = 200ms;
/// The exit code a loader ended by the station gets.
constexpr UINT kEndedByStation = 1;
/// Signal numbers as the C runtime has them, for the exit status 128 + N.
constexpr int kSigInt = 2;
constexpr int kSigTerm = 15;
constexpr int kSigBreak = 21;

// "\"a b\"": one argument as CommandLineToArgvW and the C runtime read it back.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

std::string HowEnded(DWORD code) {
  char text[32];
  // NTSTATUS codes (0xC0000005, an access violation) read best in hexadecimal.
  if (code >= 0xC0000000u) {
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  } else {
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(code));
  }
  return std::string("exit status ") + text;
}

void CloseQuietly(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  handle = nullptr;
}

// The console's size, or nothing when standard output is not a console.
std::pair<int, int> ConsoleSize() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) return {0, 0};
  return {info.srWindow.Right - info.srWindow.Left + 1,
          info.srWindow.Bottom - info.srWindow.Top + 1};
}

struct Child {
  ~Child() { CloseQuietly(process); }
  HANDLE process = nullptr;
  std::thread outReader;
  std::thread errReader;
  std::thread waiter;
  int openPipes = 2;
  bool exited = false;
  DWORD code = 0;
  Host::Clock::time_point exitedAt{};
  bool endedByStation = false;
  bool reported = false;
};

// What the host's threads share with it. Held by a shared pointer: the thread that reads
// standard input may still be in a read of the console when the host ends, and is left to
// the end of the process with its state.
struct Shared {
  std::mutex mutex;  // guards everything below
  std::condition_variable changed;
  std::deque<HostEvent> queue;
  std::map<int, std::unique_ptr<Child>> children;
  int pendingEnds = 0;
  bool wantLine = false;
  bool stdinEnded = false;
  bool interrupted = false;  // the control handler has reported a key or the console's end
  bool closing = false;
  std::string stdinPending;

  void Push(HostEvent event) {
    queue.push_back(std::move(event));
    changed.notify_all();
  }
};

// The host's state as the console's control handler reaches it.
std::mutex handlerMutex;
std::shared_ptr<Shared> handlerState;
HANDLE finished = nullptr;  // set when the host has ended

// Ctrl-C, Ctrl-Break and the console's closing, on a thread the system starts.
BOOL WINAPI OnControl(DWORD type) {
  std::shared_ptr<Shared> state;
  {
    std::lock_guard lock(handlerMutex);
    state = handlerState;
  }
  if (!state) return FALSE;
  const auto interrupt = [&state](int signal, const char* how) {
    std::lock_guard lock(state->mutex);
    state->interrupted = true;
    state->Push(HostEvent{HostEvent::Kind::kInterrupt, -1, "", how, signal});
  };
  switch (type) {
    case CTRL_C_EVENT:
      interrupt(kSigInt, "Ctrl-C");
      return TRUE;
    case CTRL_BREAK_EVENT:
      interrupt(kSigBreak, "Ctrl-Break");
      return TRUE;
    default:
      // The console is closing (or the session ends): the system ends the station when this
      // returns, so it waits a while for the loaders to be stopped and the report written.
      interrupt(kSigTerm, "the console closed");
      ::WaitForSingleObject(finished, 4000);
      return TRUE;
  }
}

// A reader thread: what arrives on a pipe, as it arrives, until the pipe ends.
void ReadPipe(std::shared_ptr<Shared> shared, int id, HANDLE pipe, HostEvent::Kind kind) {
  Shared& state = *shared;
  std::string buffer(kReadChunk, '\0');
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(pipe, buffer.data(), kReadChunk, &got, nullptr) || got == 0) break;
    std::lock_guard lock(state.mutex);
    if (state.children.at(id)->reported) continue;
    state.Push(HostEvent{kind, id, buffer.substr(0, got), "", 0});
  }
  ::CloseHandle(pipe);
  std::lock_guard lock(state.mutex);
  --state.children.at(id)->openPipes;
  state.changed.notify_all();
}

void AwaitEnd(std::shared_ptr<Shared> shared, int id, HANDLE process) {
  Shared& state = *shared;
  ::WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  std::lock_guard lock(state.mutex);
  Child& child = *state.children.at(id);
  child.exited = true;
  child.code = code;
  child.exitedAt = Host::Clock::now();
  ++state.pendingEnds;
  state.changed.notify_all();
}

// What one read of standard input gave.
enum class InputRead { kBytes, kInterrupted, kEnded };

// One read of the console, as wide text and in UTF-8 whatever its code page. Ctrl-Z at
// the start of a line is the end of input, as the console's own ReadFile takes it. A read
// that ends with nothing read was ended by Ctrl-C or Ctrl-Break (ReadConsoleW sets
// ERROR_OPERATION_ABORTED then; ReadFile gives the same as for Ctrl-Z).
InputRead ReadConsoleLine(HANDLE input, std::string& bytes) {
  std::wstring buffer(2048, L'\0');
  DWORD got = 0;
  ::SetLastError(ERROR_SUCCESS);
  if (!::ReadConsoleW(input, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
    return InputRead::kEnded;
  }
  if (got == 0) {
    return ::GetLastError() == ERROR_OPERATION_ABORTED ? InputRead::kInterrupted
                                                       : InputRead::kEnded;
  }
  if (buffer[0] == L'\x1a') return InputRead::kEnded;
  bytes = Utf8(std::wstring_view(buffer.data(), got));
  return InputRead::kBytes;
}

InputRead ReadFileBytes(HANDLE input, std::string& bytes) {
  std::string buffer(4096, '\0');
  DWORD got = 0;
  if (input == nullptr || input == INVALID_HANDLE_VALUE ||
      !::ReadFile(input, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) ||
      got == 0) {
    return InputRead::kEnded;
  }
  bytes = buffer.substr(0, got);
  return InputRead::kBytes;
}

// Standard input, read only while the station waits for the operator: a console read
// echoes what is typed, which would break the table during a round.
void ReadOperator(std::shared_ptr<Shared> state) {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  const bool console = ::GetConsoleMode(input, &mode) != 0;
  std::unique_lock lock(state->mutex);
  while (!state->stdinEnded && !state->closing) {
    state->changed.wait(lock, [&] { return state->wantLine || state->closing; });
    if (state->closing) break;
    if (state->stdinPending.find('\n') != std::string::npos) {
      state->wantLine = false;
      continue;
    }
    lock.unlock();
    std::string bytes;
    const InputRead read = console ? ReadConsoleLine(input, bytes) : ReadFileBytes(input, bytes);
    lock.lock();
    // A console read that ends without a line may be Ctrl-C's doing (or the console's end),
    // with the control handler's report still on its way on another thread: it is waited
    // for a moment, and a stop wins over the end of input. Nothing more is read then.
    if (console && read != InputRead::kBytes) {
      state->changed.wait_for(lock, kControlReportGrace,
                              [&] { return state->interrupted || state->closing; });
    }
    if (state->interrupted) break;
    if (read == InputRead::kEnded) {
      state->stdinEnded = true;
    } else if (read == InputRead::kBytes) {
      state->stdinPending += bytes;
    }
    state->changed.notify_all();
  }
}

// The full name of the program to start: a name with a folder made absolute, a bare name
// looked up on the PATH alone. Never the current folder, which the system would search
// first for a bare name (a downloader.exe left in a shared folder would be run).
// ERROR_SUCCESS, or ERROR_FILE_NOT_FOUND.
DWORD FullProgramPath(const std::wstring& program, std::wstring& full) {
  std::wstring buffer(MAX_PATH, L'\0');
  const bool bare = program.find_first_of(L"\\/:") == std::wstring::npos;
  std::wstring path;
  if (bare) {
    const DWORD n = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    path.resize(n);
    if (n == 0 || ::GetEnvironmentVariableW(L"PATH", path.data(), n) == 0) {
      return ERROR_FILE_NOT_FOUND;
    }
    path.resize(n - 1);
  }
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD n =
        bare ? ::SearchPathW(path.c_str(), program.c_str(), L".exe", size, buffer.data(), nullptr)
             : ::GetFullPathNameW(program.c_str(), size, buffer.data(), nullptr);
    if (n == 0) return ERROR_FILE_NOT_FOUND;
    if (n < size) {
      full = buffer.substr(0, n);
      return ERROR_SUCCESS;
    }
    buffer.resize(n);
  }
}

// Starts the loader `program` (a full name) with its standard handles, and only
// `inherited` inherited, without a console window or the station's Ctrl-C (a console
// loader would stop at the key itself). ERROR_SUCCESS, or why it could not be started.
DWORD CreateWithHandles(const std::wstring& program, std::wstring& commandLine, HANDLE input,
                        HANDLE output, HANDLE error, HANDLE* inherited, DWORD count,
                        PROCESS_INFORMATION& process) {
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<std::max_align_t> storage(size / sizeof(std::max_align_t) + 1);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return ::GetLastError();
  DWORD result = ERROR_SUCCESS;
  if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   count * sizeof(HANDLE), nullptr, nullptr)) {
    result = ::GetLastError();
  } else {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = error;
    startup.lpAttributeList = attributes;
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW |
                              CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT,
                          nullptr, nullptr, &startup.StartupInfo, &process)) {
      result = ::GetLastError();
    }
  }
  ::DeleteProcThreadAttributeList(attributes);
  return result;
}

class WindowsHost final : public Host {
 public:
  WindowsHost() : state_(std::make_shared<Shared>()) {
    size_ = ConsoleSize();
    finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
      std::lock_guard lock(handlerMutex);
      handlerState = state_;
    }
    ::SetConsoleCtrlHandler(OnControl, TRUE);
  }

  ~WindowsHost() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->closing = true;
      state_->changed.notify_all();
      for (auto& [id, child] : state_->children) {
        if (!child->exited) ::TerminateProcess(child->process, kEndedByStation);
      }
    }
    // The map is not changed from here on; the threads only look entries up.
    for (auto& [id, child] : state_->children) {
      child->waiter.join();
      std::unique_lock lock(state_->mutex);
      const bool ended =
          state_->changed.wait_for(lock, kPipeGrace, [&c = *child] { return c.openPipes == 0; });
      lock.unlock();
      // A pipe still held by something the loader left behind: its reader stays blocked,
      // holding the shared state, until the process ends.
      for (std::thread* reader : {&child->outReader, &child->errReader}) {
        if (ended) {
          reader->join();
        } else {
          reader->detach();
        }
      }
    }
    if (operatorReader_.joinable()) operatorReader_.detach();
    for (const std::wstring& file : privateFiles_) ::DeleteFileW(file.c_str());
    if (!privateFolder_.empty()) ::RemoveDirectoryW(privateFolder_.c_str());
    {
      std::lock_guard lock(handlerMutex);
      handlerState.reset();
    }
    ::SetEvent(finished);
  }

  int Start(const std::string& program, const std::vector<std::string>& args,
            std::string& error) override {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    HANDLE input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr);
    // The station's ends are not inheritable; the loader's ends are, but only by the
    // loader, through the handle list.
    if (input == INVALID_HANDLE_VALUE || !::CreatePipe(&outRead, &outWrite, nullptr, 0) ||
        !::CreatePipe(&errRead, &errWrite, nullptr, 0) ||
        !::SetHandleInformation(outWrite, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
        !::SetHandleInformation(errWrite, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
      error = ErrorText(::GetLastError());
      for (HANDLE* h : {&input, &outRead, &outWrite, &errRead, &errWrite}) CloseQuietly(*h);
      return -1;
    }
    std::wstring commandLine = Quoted(Wide(program));
    for (const std::string& arg : args) commandLine += L" " + Quoted(Wide(arg));

    PROCESS_INFORMATION process{};
    HANDLE inherited[] = {input, outWrite, errWrite};
    std::wstring full;
    DWORD started = FullProgramPath(Wide(program), full);
    if (started == ERROR_SUCCESS) {
      started =
          CreateWithHandles(full, commandLine, input, outWrite, errWrite, inherited, 3, process);
    }
    for (HANDLE* h : {&input, &outWrite, &errWrite}) CloseQuietly(*h);
    if (started != ERROR_SUCCESS) {
      error = ErrorText(started);
      CloseQuietly(outRead);
      CloseQuietly(errRead);
      return -1;
    }
    ::CloseHandle(process.hThread);

    std::lock_guard lock(state_->mutex);
    const int id = nextId_++;
    auto child = std::make_unique<Child>();
    child->process = process.hProcess;
    Child& c = *child;
    state_->children[id] = std::move(child);
    c.outReader = std::thread(ReadPipe, state_, id, outRead, HostEvent::Kind::kOutput);
    c.errReader = std::thread(ReadPipe, state_, id, errRead, HostEvent::Kind::kDiagnostic);
    c.waiter = std::thread(AwaitEnd, state_, id, c.process);
    return id;
  }

  // A loader without a window has no polite way to be asked to end: both end it at once.
  // The system closes its port as for any process that ends.
  void Stop(int id) override { Kill(id); }

  void Kill(int id) override {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->children.find(id);
    if (it == state_->children.end() || it->second->exited) return;
    it->second->endedByStation = true;
    ::TerminateProcess(it->second->process, kEndedByStation);
  }

  std::vector<HostEvent> Wait(Clock::time_point deadline, bool watchOperator) override {
    std::unique_lock lock(state_->mutex);
    if (watchOperator) {
      state_->wantLine = true;
      state_->changed.notify_all();
      if (!operatorReader_.joinable()) operatorReader_ = std::thread(ReadOperator, state_);
    }
    for (;;) {
      std::vector<HostEvent> events(std::make_move_iterator(state_->queue.begin()),
                                    std::make_move_iterator(state_->queue.end()));
      state_->queue.clear();
      if (watchOperator) TakeOperatorEvent(events);
      ReportEnded(events);
      if (const auto size = ConsoleSize(); size != size_) {
        size_ = size;
        events.push_back(HostEvent{HostEvent::Kind::kResized, -1, "", "", 0});
      }
      const auto now = Clock::now();
      if (!events.empty() || now >= deadline) return events;
      auto wake = std::min(deadline, now + kSizeLook);
      if (state_->pendingEnds > 0) wake = std::min(wake, now + 100ms);
      state_->changed.wait_until(lock, wake);
    }
  }

  Clock::time_point Now() override { return Clock::now(); }

  // Read by the line's other programs, which may run as other users: readable to all.
  bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                           std::string& error) override {
    return ReplaceFileSafely(path, bytes, 0644, error);
  }

  bool CanCreate(const std::string& path, std::string& error) override {
    return CanReplaceFileSafely(path, error);
  }

  // The unit log: opened as any file the station writes into a folder others may share
  // (OpenForAppending), each line in one write and on the disk before the call returns.
  bool AppendLine(const std::string& path, std::string_view line, std::string& error) override {
    std::FILE* stream = OpenForAppending(path, 0644, error);
    if (stream == nullptr) return false;
    const HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    std::string bytes(line);
    bytes += '\n';
    // One write: with append access the line lands whole at the end.
    DWORD written = 0;
    bool ok =
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && ::FlushFileBuffers(file);
    if (!ok)
      error = written == bytes.size() ? ErrorText(::GetLastError()) : "the line was cut short";
    std::fclose(stream);
    return ok;
  }

  bool DropHalfLine(const std::string& path, std::size_t& dropped, std::string& error) override {
    dropped = 0;
    if (::GetFileAttributesW(Wide(path).c_str()) == INVALID_FILE_ATTRIBUTES &&
        ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      return true;
    }
    std::FILE* stream = OpenForAppending(path, 0644, error);
    if (stream == nullptr) return false;
    const HANDLE checked = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    // Read and cut through a second handle, only when it is the file just checked.
    HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    bool ok = file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(checked, &a) &&
              ::GetFileInformationByHandle(file, &b) &&
              a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
              a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    if (!ok) {
      error = file == INVALID_HANDLE_VALUE ? ErrorText(::GetLastError())
                                           : "it changed while it was opened";
    }
    LARGE_INTEGER size{};
    ok = ok && ::GetFileSizeEx(file, &size) != 0;
    LONGLONG end = ok ? size.QuadPart : 0;
    LONGLONG keep = 0;
    // Back from the end, a block at a time, to the last line end.
    char block[4096];
    while (ok && end > 0) {
      const LONGLONG from = end > static_cast<LONGLONG>(sizeof block) ? end - sizeof block : 0;
      LARGE_INTEGER at{};
      at.QuadPart = from;
      DWORD got = 0;
      ok = ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ::ReadFile(file, block, static_cast<DWORD>(end - from), &got, nullptr) &&
           got == static_cast<DWORD>(end - from);
      if (!ok) error = ErrorText(::GetLastError());
      if (!ok) break;
      const std::string_view text(block, got);
      if (const auto newline = text.find_last_of('\n'); newline != std::string_view::npos) {
        keep = from + static_cast<LONGLONG>(newline) + 1;
        break;
      }
      end = from;
    }
    if (ok && keep < size.QuadPart) {
      LARGE_INTEGER at{};
      at.QuadPart = keep;
      ok = ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file) &&
           ::FlushFileBuffers(file);
      if (ok) dropped = static_cast<std::size_t>(size.QuadPart - keep);
      if (!ok) error = ErrorText(::GetLastError());
    }
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    std::fclose(stream);
    return ok;
  }

  std::string HostName() override {
    wchar_t name[256] = {};
    DWORD size = 255;
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return "";
    return Utf8(std::wstring(name, size));
  }

  std::string DefaultLoader() override {
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
      if (n == 0) return "downloader.exe";
      if (n < self.size()) {
        self.resize(n);
        break;
      }
      self.resize(self.size() * 2);
    }
    const std::wstring beside = self.substr(0, self.find_last_of(L"\\/") + 1) + L"downloader.exe";
    if (::GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return Utf8(beside);
    return "downloader.exe";
  }

  bool PrivateCopy(std::string_view bytes, const std::string& name, std::string& path,
                   std::string& error) override {
    if (privateFolder_.empty()) {
      wchar_t temp[MAX_PATH + 1] = {};
      const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
      if (n == 0 || n > MAX_PATH) {
        error = ErrorText(::GetLastError());
        return false;
      }
      // A new folder under the user's own temporary folder, which only that user can write.
      for (unsigned attempt = 0; privateFolder_.empty(); ++attempt) {
        const std::wstring folder = std::wstring(temp) + L"downloader-station-" +
                                    std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(::GetTickCount() + attempt);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) {
          privateFolder_ = folder;
        } else if (::GetLastError() != ERROR_ALREADY_EXISTS || attempt > 100) {
          error = ErrorText(::GetLastError());
          return false;
        }
      }
    }
    const std::wstring target = privateFolder_ + L"\\" + Wide(name);
    if (!ReplaceFileSafely(Utf8(target), bytes, 0600, error, FolderRule::kOwnOnly)) return false;
    privateFiles_.push_back(target);
    path = Utf8(target);
    return true;
  }

 private:
  // A loader that has exited ends once everything it wrote has been handed on.
  void ReportEnded(std::vector<HostEvent>& events) {
    const auto now = Clock::now();
    for (auto& [id, child] : state_->children) {
      if (!child->exited || child->reported) continue;
      if (child->openPipes > 0 && now - child->exitedAt < kPipeGrace) continue;
      child->reported = true;
      --state_->pendingEnds;
      events.push_back(
          HostEvent{HostEvent::Kind::kEnded, id, "",
                    child->endedByStation ? "ended by the station" : HowEnded(child->code), 0});
    }
  }

  // One operator event at most per wait: lines typed ahead wait for the next round.
  void TakeOperatorEvent(std::vector<HostEvent>& events) {
    if (endReported_) return;
    std::string& pending = state_->stdinPending;
    HostEvent event;
    const std::size_t newline = pending.find('\n');
    if (newline != std::string::npos || (state_->stdinEnded && !pending.empty())) {
      event.kind = HostEvent::Kind::kOperatorLine;
      event.bytes = pending.substr(0, newline);
      pending.erase(0, newline == std::string::npos ? newline : newline + 1);
      if (!event.bytes.empty() && event.bytes.back() == '\r') event.bytes.pop_back();
    } else if (state_->stdinEnded) {
      event.kind = HostEvent::Kind::kOperatorEnd;
      endReported_ = true;
    } else {
      return;
    }
    state_->wantLine = false;
    events.push_back(std::move(event));
  }

  std::shared_ptr<Shared> state_;
  int nextId_ = 0;
  std::pair<int, int> size_;
  std::thread operatorReader_;
  bool endReported_ = false;
  std::wstring privateFolder_;  // PrivateCopy's, made at its first use
  std::vector<std::wstring> privateFiles_;
};

}  // namespace

std::unique_ptr<Host> MakeSystemHost() {
  return std::make_unique<WindowsHost>();
}

std::vector<std::string> StationArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i]));
  ::LocalFree(wide);
  return args;
}

}  // namespace downloader::station
