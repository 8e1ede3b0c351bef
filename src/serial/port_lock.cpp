#include "serial/port_lock.h"

namespace downloader {

PortLock::~PortLock() {
  Release();
}

PortLock::PortLock(PortLock&& other) noexcept : path_(std::move(other.path_)), held_(other.held_) {
  other.path_.clear();
  other.held_ = -1;
}

PortLock& PortLock::operator=(PortLock&& other) noexcept {
  if (this != &other) {
    Release();
    path_ = std::move(other.path_);
    held_ = other.held_;
    other.path_.clear();
    other.held_ = -1;
  }
  return *this;
}

}  // namespace downloader
