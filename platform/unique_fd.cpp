#include "platform/unique_fd.h"

#include <unistd.h>

namespace cg {

void UniqueFd::reset(int fd) noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace cg
