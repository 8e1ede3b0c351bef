#include "serial/win32_comm.h"

#include "serial/serial_device.h"

namespace downloader::win32 {

namespace {

constexpr uint32_t kMaxDword = 0xFFFFFFFF;

// Win32 error codes of a failed open, and what they mean to the loader.
struct ErrorMeaning {
  uint32_t win32Error;
  uint32_t code;
};
constexpr ErrorMeaning kOpenErrors[] = {
    {2, kErrorNotFound},        // ERROR_FILE_NOT_FOUND: no such port
    {3, kErrorNotFound},        // ERROR_PATH_NOT_FOUND
    {21, kErrorNotFound},       // ERROR_NOT_READY
    {31, kErrorNotFound},       // ERROR_GEN_FAILURE: the adapter is not working (unplugged)
    {55, kErrorNotFound},       // ERROR_DEV_NOT_EXIST: a device that has gone
    {123, kErrorNotFound},      // ERROR_INVALID_NAME
    {433, kErrorNotFound},      // ERROR_NO_SUCH_DEVICE
    {1167, kErrorNotFound},     // ERROR_DEVICE_NOT_CONNECTED
    {5, kErrorAccessDenied},    // ERROR_ACCESS_DENIED: another program has it open
    {32, kErrorAccessDenied},   // ERROR_SHARING_VIOLATION
    {170, kErrorAccessDenied},  // ERROR_BUSY
};

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

uint32_t OpenErrorCode(uint32_t win32Error) {
  for (const ErrorMeaning& e : kOpenErrors) {
    if (e.win32Error == win32Error) return e.code;
  }
  return win32Error;
}

std::string DevicePath(const std::string& device) {
  const bool com = device.size() > 3 && Upper(device[0]) == 'C' && Upper(device[1]) == 'O' &&
                   Upper(device[2]) == 'M' &&
                   device.find_first_not_of("0123456789", 3) == std::string::npos;
  return com ? "\\\\.\\" + device : device;
}

std::string LockName(const std::string& devicePath) {
  return devicePath.substr(devicePath.find_last_of("\\/") + 1);
}

CommTimeouts ReadTimeouts(uint32_t timeoutMs) {
  CommTimeouts t;
  if (timeoutMs == 0) {
    t.readInterval = kMaxDword;
  } else {
    t.readConstant = timeoutMs;
  }
  return t;
}

CommTimeouts WriteTimeouts(uint32_t timeoutMs) {
  CommTimeouts t;
  t.writeConstant = timeoutMs == 0 ? 1 : timeoutMs;
  return t;
}

}  // namespace downloader::win32
