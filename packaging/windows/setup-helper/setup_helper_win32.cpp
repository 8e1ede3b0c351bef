// setup-helper.exe: what the setup program and the uninstaller ask of Windows that their
// script language does poorly. They carry it inside and run it from their temporary folder.
//
//   setup-helper running FOLDER PID  lists the programs running from FOLDER (or a folder in
//                                    it) but process PID (the uninstaller, which may run
//                                    from FOLDER itself), one "NAME (process N)" a line;
//                                    exit 0 when none, 1 when some run
//   setup-helper end FOLDER PID      ends them and waits up to 10 s for them to go; exit 0
//                                    when none is left, 1 (and the list) when some are
//   setup-helper path-add FOLDER     adds FOLDER to the user's PATH
//   setup-helper path-remove FOLDER  takes FOLDER out of the user's PATH
//
// Exit 2 for a usage error or a PATH that cannot be written.

#include <windows.h>

#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

#include "path_list.h"

namespace {

constexpr DWORD kEndWaitMilliseconds = 10000;

struct Running {
  DWORD id;
  std::wstring name;
};

// The folder's full name with a backslash at its end, for comparing with a program's.
std::wstring FolderPrefix(const std::wstring& folder) {
  std::vector<wchar_t> full(32768);
  const DWORD length =
      ::GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  std::wstring prefix = length > 0 && length < full.size() ? full.data() : folder;
  if (prefix.empty() || prefix.back() != L'\\') prefix += L'\\';
  return prefix;
}

bool StartsWith(const std::wstring& name, const std::wstring& prefix) {
  return name.size() > prefix.size() &&
         ::CompareStringOrdinal(name.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

std::wstring ImageName(HANDLE process) {
  std::vector<wchar_t> name(32768);
  DWORD size = static_cast<DWORD>(name.size());
  if (!::QueryFullProcessImageNameW(process, 0, name.data(), &size)) return {};
  return std::wstring(name.data(), size);
}

// The processes whose program file lies in `folder`, but this one and `except`.
std::vector<Running> RunningFrom(const std::wstring& folder, DWORD except) {
  const std::wstring prefix = FolderPrefix(folder);
  std::vector<Running> found;
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  const DWORD self = ::GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (bool more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    const DWORD id = entry.th32ProcessID;
    if (id == self || id == except || id == 0) continue;
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) continue;
    const std::wstring image = ImageName(process);
    ::CloseHandle(process);
    if (StartsWith(image, prefix)) found.push_back({id, image.substr(prefix.size())});
  }
  ::CloseHandle(snapshot);
  return found;
}

void Print(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          size, nullptr, nullptr);
  }
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

int List(const std::vector<Running>& running) {
  for (const Running& program : running) {
    Print(program.name + L" (process " + std::to_wstring(program.id) + L")\r\n");
  }
  return running.empty() ? 0 : 1;
}

int End(const std::wstring& folder, DWORD except) {
  std::vector<HANDLE> ending;
  for (const Running& program : RunningFrom(folder, except)) {
    const HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, program.id);
    if (process == nullptr) continue;
    if (::TerminateProcess(process, 1)) {
      ending.push_back(process);
    } else {
      ::CloseHandle(process);
    }
  }
  // A process's file can be removed only once it has ended.
  for (HANDLE process : ending) {
    ::WaitForSingleObject(process, kEndWaitMilliseconds);
    ::CloseHandle(process);
  }
  return List(RunningFrom(folder, except));
}

// The user's PATH changed by `change`; other programs started afterwards see it.
int ChangeUserPath(const std::wstring& folder,
                   std::wstring (*change)(const std::wstring&, const std::wstring&)) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Environment", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 2;
  }
  DWORD type = REG_EXPAND_SZ;
  DWORD size = 0;
  std::wstring path;
  if (::RegQueryValueExW(key, L"Path", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
    ::RegQueryValueExW(key, L"Path", nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                       &size);
    path = value.data();
  } else {
    type = REG_EXPAND_SZ;
  }
  const std::wstring changed = change(path, folder);
  LSTATUS result = ERROR_SUCCESS;
  if (changed != path) {
    result = changed.empty()
                 ? ::RegDeleteValueW(key, L"Path")
                 : ::RegSetValueExW(key, L"Path", 0, type,
                                    reinterpret_cast<const BYTE*>(changed.c_str()),
                                    static_cast<DWORD>((changed.size() + 1) * sizeof(wchar_t)));
  }
  ::RegCloseKey(key);
  if (result != ERROR_SUCCESS) return 2;
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                        reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG, 1000, &ignored);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring command = argv[1];
  const std::wstring folder = argv[2];
  if (command == L"running" || command == L"end") {
    if (argc != 4) return 2;
    const auto except = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
    return command == L"end" ? End(folder, except) : List(RunningFrom(folder, except));
  }
  if (argc != 3) return 2;
  if (command == L"path-add") return ChangeUserPath(folder, downloader::setup::WithFolder);
  if (command == L"path-remove") return ChangeUserPath(folder, downloader::setup::WithoutFolder);
  return 2;
}
