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

}  // namespace

PortMapEnvironment SystemPortMapEnvironment() {
  PortMapEnvironment env;
  env.downloaderPorts = Env(L"DOWNLOADER_PORTS");
  // %APPDATA%\downloader\ports takes the place of ~/.config/downloader/ports.
  env.xdgConfigHome = Env(L"APPDATA");
  const auto programData = Env(L"ProgramData");
  env.systemDirectory = programData ? *programData + "\\downloader\\ports" : std::string();
  env.namedSystemPorts = true;
  return env;
}

}  // namespace downloader
