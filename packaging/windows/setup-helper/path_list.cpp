#include "path_list.h"

#include <cwctype>
#include <vector>

namespace downloader::setup {

namespace {

std::vector<std::wstring> Entries(const std::wstring& path) {
  std::vector<std::wstring> entries;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(L';', start);
    entries.push_back(path.substr(start, end - start));
    if (end == std::wstring::npos) return entries;
    start = end + 1;
  }
}

std::wstring Folded(std::wstring folder) {
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  for (wchar_t& c : folder) c = static_cast<wchar_t>(std::towlower(c));
  return folder;
}

bool Same(const std::wstring& entry, const std::wstring& folder) {
  return !Folded(entry).empty() && Folded(entry) == Folded(folder);
}

}  // namespace

std::wstring WithFolder(const std::wstring& path, const std::wstring& folder) {
  for (const std::wstring& entry : Entries(path)) {
    if (Same(entry, folder)) return path;
  }
  if (path.empty()) return folder;
  return path + (path.back() == L';' ? L"" : L";") + folder;
}

std::wstring WithoutFolder(const std::wstring& path, const std::wstring& folder) {
  std::wstring kept;
  bool first = true;
  bool removed = false;
  for (const std::wstring& entry : Entries(path)) {
    if (Same(entry, folder)) {
      removed = true;
      continue;
    }
    if (!first) kept += L';';
    kept += entry;
    first = false;
  }
  return removed ? kept : path;
}

}  // namespace downloader::setup
