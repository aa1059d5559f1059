// An open file descriptor with one owner: closed when the owner goes or
// takes another one. Closing also lets go of any flock the descriptor holds.
#pragma once

#include <utility>

namespace cg {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) reset(std::exchange(o.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes what it holds (errors of close are of no use here) and takes fd.
  void reset(int fd = -1) noexcept;

 private:
  int fd_ = -1;
};

}  // namespace cg
