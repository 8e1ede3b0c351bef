#include <libserialport.h>

#include <cstdlib>
#include <fstream>

#include "serial/port_map.h"

namespace downloader {

namespace {

std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace

PortMapEnvironment SystemPortMapEnvironment() {
  PortMapEnvironment env;
  env.downloaderPorts = Env(kPortsVariable);
  env.xdgConfigHome = Env("XDG_CONFIG_HOME");
  env.home = Env("HOME");
  env.enumeratePorts = [] {
    std::vector<std::string> names;
    sp_port** list = nullptr;
    if (sp_list_ports(&list) == SP_OK) {
      for (sp_port** p = list; *p != nullptr; ++p) names.emplace_back(sp_get_port_name(*p));
      sp_free_port_list(list);
    }
    return names;
  };
  std::ifstream active("/sys/class/tty/console/active");
  std::string word;
  while (active >> word) env.consoleNames.push_back(word);
  return env;
}

}  // namespace downloader
