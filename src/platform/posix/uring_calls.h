// The liburing calls the Linux queue makes, behind a table that tests can replace to make the
// system refuse io_uring or the registration of files and buffers.
#pragma once

#include <liburing.h>

namespace kolvane {

struct UringCalls {
  int (*queue_init)(unsigned entries, struct io_uring* ring, unsigned flags);
  int (*register_files)(struct io_uring* ring, const int* files, unsigned count);
  int (*register_buffers)(struct io_uring* ring, const struct iovec* buffers, unsigned count);
  int (*submit)(struct io_uring* ring);
  int (*wait_cqe)(struct io_uring* ring, struct io_uring_cqe** cqe);
};

// The table in use; the real calls unless a test has swapped them.
UringCalls& uring_calls();
const UringCalls& real_uring_calls();

}  // namespace kolvane
