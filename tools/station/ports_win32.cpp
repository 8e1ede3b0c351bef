// The port map's folders and entries on Windows. COM1 to COM9 are reserved names: a file of
// that name in a folder is reached only through the \\?\ form of its full name, as the
// loader reads it too; any other form opens the port itself.

#include <stdlib.h>
#include <windows.h>

#include "ports.h"
#include "text_win32.h"

namespace downloader::station {

namespace {

constexpr DWORD kHeadBytes = 4096;

std::optional<std::wstring> Env(const wchar_t* name) {
  const wchar_t* value = ::_wgetenv(name);
  if (value == nullptr) return std::nullopt;
  return std::wstring(value);
}

// The \\?\ form of `directory`\`name`: the full name, backslashes only.
std::wstring Verbatim(const std::filesystem::path& directory, const std::wstring& name) {
  std::error_code ec;
  std::wstring full = std::filesystem::absolute(directory, ec).lexically_normal().wstring();
  for (wchar_t& c : full) {
    if (c == L'/') c = L'\\';
  }
  if (full.rfind(L"\\\\?\\", 0) != 0) {
    full = full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
  }
  if (!full.empty() && full.back() != L'\\') full += L'\\';
  return full + name;
}

std::string Head(const std::wstring& file) {
  const HANDLE h = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string head(kHeadBytes, '\0');
  DWORD got = 0;
  if (!::ReadFile(h, head.data(), kHeadBytes, &got, nullptr)) got = 0;
  ::CloseHandle(h);
  head.resize(got);
  return head;
}

}  // namespace

PortMapPlaces SystemPortMapPlaces() {
  PortMapPlaces places;
  if (const auto ports = Env(L"DOWNLOADER_PORTS")) {
    places.named = std::filesystem::path(*ports);
    return places;
  }
  if (const auto appData = Env(L"APPDATA"); appData && !appData->empty()) {
    places.folders.push_back(std::filesystem::path(*appData) / L"downloader" / L"ports");
  }
  if (const auto programData = Env(L"ProgramData"); programData && !programData->empty()) {
    places.folders.push_back(std::filesystem::path(*programData) / L"downloader" / L"ports");
  }
  return places;
}

std::vector<PortMapEntry> ListPortMap(const std::filesystem::path& directory) {
  std::vector<PortMapEntry> entries;
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW(Verbatim(directory, L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    PortMapEntry entry;
    // Names on Windows are the same in any letter case: the loader's COM3 opens com3.
    entry.name = Utf8(name);
    for (char& c : entry.name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    entry.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.file = !entry.link && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (entry.file) entry.head = Head(Verbatim(directory, name));
    entries.push_back(std::move(entry));
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return entries;
}

}  // namespace downloader::station
