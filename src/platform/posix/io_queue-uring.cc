// The I/O queue over io_uring: one submission call for everything queued, completions read
// straight from the shared ring. Files and buffers are registered when the system lets us
// (the kernel then skips looking them up and pinning pages on every I/O); when it does not,
// for instance because of RLIMIT_MEMLOCK, the queue works without them.
#include <errno.h>

#include <algorithm>
#include <cstring>

#include "platform/io_queue.h"
#include "platform/posix/uring_calls.h"

namespace kolvane {
namespace {

int real_wait_cqe(struct io_uring* ring, struct io_uring_cqe** cqe) {
  return ::io_uring_wait_cqe(ring, cqe);
}

const UringCalls kRealCalls = {&::io_uring_queue_init,
                               &::io_uring_register_files,
                               &::io_uring_register_buffers,
                               &::io_uring_submit,
                               &real_wait_cqe};
UringCalls g_calls = kRealCalls;

// The kernel registers no single buffer larger than this.
constexpr std::uint64_t kMaxRegisteredBuffer = std::uint64_t{1} << 30;

std::string text_of(int error) {
  return std::string(std::strerror(error)) + "\n";
}

// A registered buffer: the queue finds which one holds an address by its start.
struct Region {
  std::uintptr_t begin;
  std::uintptr_t end;
  unsigned index;
};

class UringQueue final : public IoQueue {
 public:
  explicit UringQueue(const IoQueueSetup& setup)
      : depth_(setup.depth), spin_(setup.spin), kernel_thread_(setup.kernel_thread) {}
  ~UringQueue() override;

  // Sets up the ring; the system's error number (positive) when it is refused, else 0.
  int start(const IoQueueSetup& setup);

  std::uint32_t depth() const override { return depth_; }
  std::uint32_t pending() const override { return pending_; }
  bool queue(IoDirection direction, FileHandle file, void* buffer, std::uint32_t length,
             std::uint64_t offset, std::uint64_t tag) override;
  bool submit() override;
  bool reap(std::vector<IoCompletion>& out, bool wait) override;
  const std::string& failure_text() const override { return failure_; }

 private:
  std::uint32_t in_flight() const { return pending_ - queued_; }
  bool fail(int error);
  // Whether a completion is in the ring, after letting the kernel post the ones it holds for
  // this task; a failure of that call sets `error` and ends a spin.
  bool completions_ready(int& error);
  void register_files(const IoQueueSetup& setup);
  void register_buffers(const IoQueueSetup& setup);
  // The index of the registered buffer holding [buffer, buffer + length), or -1.
  int buffer_index(const void* buffer, std::uint32_t length) const;

  io_uring ring_{};
  bool ring_ready_ = false;
  const std::uint32_t depth_;
  const bool spin_;
  const bool kernel_thread_;
  std::uint32_t pending_ = 0;  // queued or in flight
  std::uint32_t queued_ = 0;   // not yet handed to the kernel
  std::vector<int> fds_;       // position = registered index
  bool files_registered_ = false;
  std::vector<Region> regions_;  // sorted by begin; empty when buffers are not registered
  std::string failure_;
};

int UringQueue::start(const IoQueueSetup& setup) {
  // One submitting thread, completions run when we next enter the kernel (with a flag in the
  // ring saying when that is due), and a bad entry does not stop the ones behind it: cheaper
  // where the kernel knows these flags (5.19, 6.0). Measured without the first two, the spin
  // below saw each completion no sooner on the disk and reads from tmpfs fell to a quarter.
  const unsigned preferred = IORING_SETUP_SUBMIT_ALL | IORING_SETUP_COOP_TASKRUN |
                             IORING_SETUP_TASKRUN_FLAG | IORING_SETUP_SINGLE_ISSUER;
  // A kernel thread that takes the entries from the ring as they are queued: asked for, it is
  // had or refused, never replaced by the ordinary submission.
  int r = kernel_thread_ ? g_calls.queue_init(depth_, &ring_, IORING_SETUP_SQPOLL)
                         : g_calls.queue_init(depth_, &ring_, preferred);
  if (r == -EINVAL && !kernel_thread_)
    r = g_calls.queue_init(depth_, &ring_, 0);
  if (r < 0)
    return -r;
  ring_ready_ = true;
  register_files(setup);
  register_buffers(setup);
  return 0;
}

void UringQueue::register_files(const IoQueueSetup& setup) {
  for (const QueueFile& f : setup.files) {
    const int fd = static_cast<int>(f.file);
    if (std::find(fds_.begin(), fds_.end(), fd) == fds_.end())
      fds_.push_back(fd);
  }
  files_registered_ =
      !fds_.empty() &&
      g_calls.register_files(&ring_, fds_.data(), static_cast<unsigned>(fds_.size())) == 0;
}

void UringQueue::register_buffers(const IoQueueSetup& setup) {
  std::vector<iovec> vecs;
  for (const QueueRegion& r : setup.regions) {
    if (r.data == nullptr || r.size == 0)
      continue;
    if (r.size > kMaxRegisteredBuffer)
      return;  // all or none: the lookup stays simple
    vecs.push_back({r.data, static_cast<size_t>(r.size)});
  }
  if (vecs.empty())
    return;
  if (g_calls.register_buffers(&ring_, vecs.data(), static_cast<unsigned>(vecs.size())) != 0) {
    return;
  }
  for (unsigned i = 0; i < vecs.size(); ++i) {
    const auto begin = reinterpret_cast<std::uintptr_t>(vecs[i].iov_base);
    regions_.push_back({begin, begin + vecs[i].iov_len, i});
  }
  std::sort(regions_.begin(), regions_.end(),
            [](const Region& a, const Region& b) { return a.begin < b.begin; });
}

int UringQueue::buffer_index(const void* buffer, std::uint32_t length) const {
  const auto at = reinterpret_cast<std::uintptr_t>(buffer);
  auto it = std::upper_bound(regions_.begin(), regions_.end(), at,
                             [](std::uintptr_t a, const Region& r) { return a < r.begin; });
  if (it == regions_.begin())
    return -1;
  --it;
  if (at + length > it->end)
    return -1;
  return static_cast<int>(it->index);
}

UringQueue::~UringQueue() {
  if (!ring_ready_)
    return;
  // The kernel may still be moving bytes into the caller's buffers: wait for all of them.
  std::uint32_t left = in_flight();
  while (left != 0) {
    io_uring_cqe* cqe = nullptr;
    const int r = g_calls.wait_cqe(&ring_, &cqe);
    if (r == -EINTR)
      continue;
    if (r < 0)
      break;
    io_uring_cqe_seen(&ring_, cqe);
    --left;
  }
  // The ring is torn down in the background after the exit; registered files would keep their
  // references until then, so a device opened for this program alone would still count as
  // claimed when the next program opens it. Unregistering lets go of them now.
  if (files_registered_)
    io_uring_unregister_files(&ring_);
  if (!regions_.empty())
    io_uring_unregister_buffers(&ring_);
  io_uring_queue_exit(&ring_);
}

bool UringQueue::fail(int error) {
  failure_ = text_of(error);
  return false;
}

bool UringQueue::queue(IoDirection direction, FileHandle file, void* buffer, std::uint32_t length,
                       std::uint64_t offset, std::uint64_t tag) {
  if (pending_ == depth_)
    return false;
  const int fd = static_cast<int>(file);
  const auto found = std::find(fds_.begin(), fds_.end(), fd);
  if (found == fds_.end())
    return false;
  io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
  // The kernel thread may not have taken the entries handed over last: wait until it has.
  while (sqe == nullptr && kernel_thread_ && io_uring_sqring_wait(&ring_) >= 0)
    sqe = io_uring_get_sqe(&ring_);
  if (sqe == nullptr)
    return false;
  const int target = files_registered_ ? static_cast<int>(found - fds_.begin()) : fd;
  const int index = buffer_index(buffer, length);
  if (direction == IoDirection::read) {
    if (index >= 0) {
      io_uring_prep_read_fixed(sqe, target, buffer, length, offset, index);
    } else {
      io_uring_prep_read(sqe, target, buffer, length, offset);
    }
  } else if (index >= 0) {
    io_uring_prep_write_fixed(sqe, target, buffer, length, offset, index);
  } else {
    io_uring_prep_write(sqe, target, buffer, length, offset);
  }
  if (files_registered_)
    sqe->flags |= IOSQE_FIXED_FILE;
  io_uring_sqe_set_data64(sqe, tag);
  ++pending_;
  ++queued_;
  return true;
}

bool UringQueue::submit() {
  while (queued_ != 0) {
    const int r = g_calls.submit(&ring_);
    if (r == -EINTR)
      continue;
    if (r < 0)
      return fail(-r);
    // Entries the kernel did not take stay in the ring for the next call; none taken at all
    // would make this loop spin.
    if (r == 0)
      return fail(EAGAIN);
    queued_ -= std::min<std::uint32_t>(queued_, static_cast<std::uint32_t>(r));
  }
  return true;
}

bool UringQueue::completions_ready(int& error) {
  if (io_uring_cq_ready(&ring_) != 0)
    return true;
  // Completions the kernel holds until this task next enters it: let it post them now.
  if ((IO_URING_READ_ONCE(*ring_.sq.kflags) & IORING_SQ_TASKRUN) == 0)
    return false;
  const int r = io_uring_get_events(&ring_);
  if (r < 0 && r != -EINTR) {
    error = -r;
    return true;
  }
  return io_uring_cq_ready(&ring_) != 0;
}

bool UringQueue::reap(std::vector<IoCompletion>& out, bool wait) {
  if (in_flight() == 0)
    return true;
  // A look without waiting, or with poll=1 looks until something is there; otherwise the call
  // that waits, which looks at the ring first.
  int error = 0;
  bool ready = false;
  if (!wait || spin_) {
    do {
      ready = completions_ready(error);
    } while (wait && !ready);
  }
  if (error != 0)
    return fail(error);
  if (wait && !ready) {
    io_uring_cqe* first = nullptr;
    for (;;) {
      const int r = g_calls.wait_cqe(&ring_, &first);
      if (r == 0)
        break;
      if (r != -EINTR)
        return fail(-r);
    }
  }
  unsigned head = 0;
  unsigned seen = 0;
  io_uring_cqe* cqe = nullptr;
  io_uring_for_each_cqe(&ring_, head, cqe) {
    IoCompletion c;
    c.tag = io_uring_cqe_get_data64(cqe);
    if (cqe->res >= 0) {
      c.result = cqe->res;
    } else {
      c.result = -1;
      c.error = static_cast<std::uint32_t>(-cqe->res);
      // The same text the synchronous path prints after a call that failed with this error.
      c.text = text_of(-cqe->res);
    }
    out.push_back(std::move(c));
    ++seen;
  }
  io_uring_cq_advance(&ring_, seen);
  pending_ -= seen;
  return true;
}

}  // namespace

UringCalls& uring_calls() {
  return g_calls;
}
const UringCalls& real_uring_calls() {
  return kRealCalls;
}

std::unique_ptr<IoQueue> open_io_queue(const IoQueueSetup& setup, std::string& error) {
  error = queue_depth_error(setup.depth);
  if (!error.empty())
    return nullptr;
  auto queue = std::make_unique<UringQueue>(setup);
  if (const int refused = queue->start(setup); refused != 0) {
    error = "io_uring is not available: " + text_of(refused);
    return nullptr;
  }
  return queue;
}

}  // namespace kolvane
