// windows.h first: aclapi.h and sddl.h build on it.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <stdlib.h>

#include "platform/wide_text.h"
#include "serial/port_map.h"

namespace downloader {

namespace {

std::optional<std::string> Env(const wchar_t* name) {
  const wchar_t* value = ::_wgetenv(name);
  if (value == nullptr) return std::nullopt;
  return Utf8FromWide(value);
}

std::string AccountName(PSID sid) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD nameSize = 256;
  DWORD domainSize = 256;
  SID_NAME_USE use{};
  if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    return Utf8FromWide(domainSize > 0 ? std::wstring(domain) + L"\\" + name : name);
  }
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return "an unknown account";
  const std::string sidText = Utf8FromWide(text);
  ::LocalFree(text);
  return sidText;
}

// Any user may make %ProgramData%\downloader and, inside a folder made there, files of
// their own: the machine-wide map counts only what the administrators or the system own.
bool OwnedByAdministrators(const std::string& path, std::string& why) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring name = WideFromUtf8(path);
  if (::GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS ||
      owner == nullptr) {
    why = "its owner cannot be read";
    return false;
  }
  const bool trusted = ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                       ::IsWellKnownSid(owner, WinLocalSystemSid);
  if (!trusted) {
    why = "it belongs to " + AccountName(owner) +
          ", not to the administrators, so any user may have made it";
  }
  ::LocalFree(descriptor);
  return trusted;
}

}  // namespace

PortMapEnvironment SystemPortMapEnvironment() {
  PortMapEnvironment env;
  env.downloaderPorts = Env(L"DOWNLOADER_PORTS");
  // %APPDATA%\downloader\ports takes the place of ~/.config/downloader/ports.
  env.xdgConfigHome = Env(L"APPDATA");
  const auto programData = Env(L"ProgramData");
  env.systemDirectory = programData ? *programData + "\\downloader\\ports" : std::string();
  env.machineWideTrusted = OwnedByAdministrators;
  env.namedSystemPorts = true;
  return env;
}

}  // namespace downloader
