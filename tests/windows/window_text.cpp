// Prints the text of a shown top-level window titled TITLE and the texts of its child
// windows, one a line (a text's own line breaks kept), once such a window exists: how a
// test under Wine reads what a dialog says. Exit 1 when none came within 60 s.
//
//   window_text.exe TITLE

#include <windows.h>

#include <string>

namespace {

struct Search {
  std::wstring title;
  HWND found = nullptr;
};

std::wstring TextOf(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

BOOL CALLBACK Look(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (::IsWindowVisible(window) && TextOf(window) == search->title) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK Print(HWND window, LPARAM) {
  const std::wstring text = TextOf(window) + L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  Search search{argv[1]};
  for (int tries = 0; tries < 600 && search.found == nullptr; ++tries) {
    ::EnumWindows(Look, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) ::Sleep(100);
  }
  if (search.found == nullptr) return 1;
  Print(search.found, 0);
  ::EnumChildWindows(search.found, Print, 0);
  return 0;
}
