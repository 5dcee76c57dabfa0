#include "fake_backend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/io_queue.h"
#include "platform/profile.h"

namespace kolvane {
namespace fake {

System& sys() {
  static System s;
  return s;
}

void reset() { sys() = System{}; }

FileHandle add_file(const std::string& name, std::vector<unsigned char> data) {
  const FileHandle h = sys().next_handle++;
  File f;
  f.name = name;
  f.data = std::move(data);
  f.open = false;
  sys().files[h] = std::move(f);
  return h;
}

File& file(FileHandle h) { return sys().files.at(h); }

std::vector<unsigned char> pattern(std::size_t n, unsigned first) {
  std::vector<unsigned char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(first + i);
  return v;
}

namespace {

void log(const std::string& entry) { sys().log.push_back(entry); }

// No name is a standard stream: the file named "-", when a test added one.
FileHandle find(const char* name) {
  const std::string wanted = name != nullptr ? name : "-";
  for (auto& [h, f] : sys().files) {
    if (f.name == wanted)
      return h;
  }
  return kNoFile;
}

FileHandle open_named(const char* name, const char* what) {
  log(std::string(what) + " " + (name != nullptr ? name : "-"));
  const FileHandle h = find(name);
  if (h != kNoFile) sys().files[h].open = true;
  return h;
}

}  // namespace
}  // namespace fake

using fake::log;
using fake::sys;

const PlatformProfile& this_platform() { return posix_profile; }

FileHandle open_input(const char* name, bool) { return fake::open_named(name, "open_input"); }

FileHandle open_output(const char* name, bool, bool notrunc, bool& output_preexists,
                       OutputAccess) {
  output_preexists = notrunc && fake::find(name) != kNoFile;
  if (notrunc && !output_preexists) return kNoFile;
  const FileHandle h = fake::open_named(name, "open_output");
  if (h != kNoFile && !notrunc) fake::file(h).data.clear();
  return h;
}

bool open_replacement(const char* name, Replacement& r) {
  using Stop = fake::System::DocumentStop;
  const bool scripted = sys().stop_on_document == name;
  if (scripted) sys().stop_on_document.clear();
  if (scripted && sys().document_stop == Stop::at_open) {
    sys().stop = StopRequest::interrupt;
    return false;
  }
  r = Replacement{kNoFile, sys().documents_in_place ? "" : std::string(name) + ".tmp", name};
  if (r.temporary.empty()) {
    r.file = fake::find(name) != kNoFile ? fake::find(name) : fake::add_file(name, {});
  } else {
    r.file = fake::add_file(r.temporary, {});
  }
  fake::File& f = fake::file(r.file);
  f.data.clear();
  f.open = true;
  if (scripted && sys().document_stop == Stop::cutting_write) f.stop_cuts_write = 1;
  if (scripted && sys().document_stop == Stop::during_write) f.stop_at_write = 1;
  return true;
}
bool commit_replacement(Replacement& r) {
  const FileHandle h = std::exchange(r.file, kNoFile);
  if (!close_file(h)) return false;
  if (r.temporary.empty()) return true;
  const FileHandle target = fake::find(r.target.c_str()) != kNoFile
                                ? fake::find(r.target.c_str())
                                : fake::add_file(r.target, {});
  fake::file(target).data = fake::file(h).data;
  sys().files.erase(h);
  return true;
}
void abandon_replacement(Replacement& r) {
  const FileHandle h = std::exchange(r.file, kNoFile);
  if (h == kNoFile) return;
  static_cast<void>(close_file(h));
  if (!r.temporary.empty()) sys().files.erase(h);
}

bool name_is_stream(const char*) { return false; }
bool name_is_device(const char*) { return false; }

bool file_size(FileHandle h, std::int64_t& size) {
  fake::File& f = fake::file(h);
  log("size " + std::to_string(h));
  if (f.size_fails) return false;
  size = static_cast<std::int64_t>(f.data.size());
  return true;
}

FileKind file_kind(FileHandle h) { return fake::file(h).kind; }

bool set_position(FileHandle h, std::uint64_t offset) {
  fake::File& f = fake::file(h);
  log("seek " + std::to_string(h) + " " + std::to_string(offset));
  if (f.seek_fails) return false;
  f.position = offset;
  return true;
}

namespace fake {
namespace {

// A read at `at`, which moves on by the bytes read; `call` names it in the log.
std::int64_t read_at(FileHandle h, void* buffer, std::uint64_t n, std::uint64_t& at,
                     const std::string& call) {
  File& f = file(h);
  log(call);
  ++f.reads;
  if (f.reads == f.status_at_read) sys().status = true;
  if (f.reads == f.stop_at_read) sys().stop = StopRequest::interrupt;
  if (f.request_interrupts_read && (f.reads == f.status_at_read || f.reads == f.stop_at_read))
    return kReadInterrupted;
  if (f.reads == f.fail_read_call) return -1;
  const std::uint64_t size = f.data.size();
  const std::uint64_t left = at < size ? size - at : 0;
  const std::uint64_t got = std::min({n, left, f.read_limit});
  if (got != 0)
    std::memcpy(buffer, f.data.data() + at, got);
  at += got;
  return static_cast<std::int64_t>(got);
}

bool write_at(FileHandle h, const void* buffer, std::uint64_t n, std::uint64_t& at,
              const std::string& call) {
  File& f = file(h);
  log(call);
  if (++f.writes == f.stop_at_write) sys().stop = StopRequest::terminate;
  if (f.writes == f.fail_write_call) return false;
  if (f.lost_writes_at.count(at) != 0) {
    at += n;
    return true;
  }
  if (f.data.size() < at + n)
    f.data.resize(at + n);
  if (n != 0)
    std::memcpy(f.data.data() + at, buffer, n);
  at += n;
  return true;
}

std::string tail_word(bool unaligned_tail) {
  return unaligned_tail ? " tail" : "";
}

}  // namespace
}  // namespace fake

std::int64_t read_block(FileHandle h, void* buffer, std::uint64_t n) {
  return fake::read_at(h, buffer, n, fake::file(h).position,
                       "read " + std::to_string(h) + " " + std::to_string(n));
}

Written write_block(FileHandle h, const void* buffer, std::uint64_t n, bool unaligned_tail) {
  fake::File& f = fake::file(h);
  const std::string call =
      "write " + std::to_string(h) + " " + std::to_string(n) + fake::tail_word(unaligned_tail);
  if (f.writes + 1 == f.stop_cuts_write) {
    sys().stop = StopRequest::interrupt;
    static_cast<void>(fake::write_at(h, buffer, f.cut_after, f.position, call));
    return {Written::End::stopped, f.cut_after};
  }
  if (!fake::write_at(h, buffer, n, f.position, call))
    return {Written::End::failed, 0};
  return {Written::End::all, n};
}

// Positioned calls leave the file's position where it was.
std::int64_t read_block_at(FileHandle h, void* buffer, std::uint64_t n, std::uint64_t offset) {
  return fake::read_at(
      h, buffer, n, offset,
      "pread " + std::to_string(h) + " " + std::to_string(n) + " @" + std::to_string(offset));
}

bool write_block_at(FileHandle h, const void* buffer, std::uint64_t n, std::uint64_t offset,
                    bool unaligned_tail) {
  return fake::write_at(h, buffer, n, offset,
                        "pwrite " + std::to_string(h) + " " + std::to_string(n) + " @" +
                            std::to_string(offset) + fake::tail_word(unaligned_tail));
}

bool sync_file(FileHandle h, bool data_only) {
  log(std::string(data_only ? "fdatasync " : "fsync ") + std::to_string(h));
  return !fake::file(h).sync_fails;
}

void install_signal_handlers() { ++sys().installs; }
StopRequest stop_requested() { return sys().stop; }
bool take_status_request() {
  const bool asked = sys().status;
  sys().status = false;
  return asked;
}
bool request_pending() { return sys().stop != StopRequest::none || sys().status; }
void simulate_request(StopRequest request, bool status) {
  sys().stop = request;
  sys().status = status;
}
int request_exit_status(StopRequest request) {
  return request == StopRequest::terminate ? 143 : 130;
}
// As the program would end: the death tests see the status and both streams.
void end_by_request(StopRequest request) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(request_exit_status(request));
}

bool close_file(FileHandle h) {
  log("close " + std::to_string(h));
  fake::file(h).open = false;
  return !fake::file(h).close_fails;
}

namespace fake {
namespace {

struct FakeIo {
  int number;
  IoDirection direction;
  FileHandle file;
  void* buffer;
  std::uint32_t length;
  std::uint64_t offset;
  std::uint64_t tag;
  bool submitted;
};

class FakeQueue;
FakeQueue* g_live_queue = nullptr;

class FakeQueue final : public IoQueue {
 public:
  FakeQueue(std::uint32_t depth, std::vector<FileHandle> files)
      : depth_(depth), files_(std::move(files)) {
    ++sys().live_queues;
    g_live_queue = this;
  }
  ~FakeQueue() override {
    // What was queued and never submitted was never the system's: only the rest counts.
    sys().destroyed_in_flight += static_cast<int>(
        std::count_if(ios_.begin(), ios_.end(), [](const FakeIo& io) { return io.submitted; }));
    log("close queue");
    --sys().live_queues;
    g_live_queue = nullptr;
  }

  std::uint32_t depth() const override { return depth_; }
  std::uint32_t pending() const override { return static_cast<std::uint32_t>(ios_.size()); }

  bool queue(IoDirection direction, FileHandle file, void* buffer, std::uint32_t length,
             std::uint64_t offset, std::uint64_t tag) override {
    if (ios_.size() == depth_) return false;
    if (std::find(files_.begin(), files_.end(), file) == files_.end()) return false;
    const int number = ++sys().queued;
    ios_.push_back({number, direction, file, buffer, length, offset, tag, false});
    sys().most_pending = std::max(sys().most_pending, pending());
    log(std::string("queue ") + (direction == IoDirection::read ? "read " : "write ") +
        std::to_string(file) + " " + std::to_string(length) + " @" + std::to_string(offset) +
        " #" + std::to_string(tag));
    return true;
  }

  bool submit() override {
    int count = 0;
    for (FakeIo& io : ios_) {
      if (!io.submitted) ++count;
    }
    log("submit " + std::to_string(count));
    if (sys().queue.submit_fails) {
      failure_ = "fake submission failure\n";
      return false;
    }
    for (FakeIo& io : ios_) io.submitted = true;
    return true;
  }

  bool reap(std::vector<IoCompletion>& out, bool) override {
    const QueueScript& script = sys().queue;
    if (script.reap_fails) {
      failure_ = "fake reaping failure\n";
      return false;
    }
    std::vector<FakeIo> flying;
    std::vector<FakeIo> waiting;
    for (const FakeIo& io : ios_) (io.submitted ? flying : waiting).push_back(io);
    const auto key = [&](const FakeIo& io) -> long long {
      const auto listed = std::find(script.order.begin(), script.order.end(), io.number);
      if (listed != script.order.end()) return listed - script.order.begin();
      const long long base = static_cast<long long>(script.order.size()) + (1LL << 40);
      return script.newest_first ? base - io.number : base + io.number;
    };
    std::stable_sort(flying.begin(), flying.end(),
                     [&](const FakeIo& a, const FakeIo& b) { return key(a) < key(b); });
    const std::size_t n = std::min(flying.size(), script.reap_limit);
    for (std::size_t i = 0; i < n; ++i) out.push_back(complete(flying[i]));
    waiting.insert(waiting.begin(), flying.begin() + static_cast<std::ptrdiff_t>(n),
                   flying.end());
    ios_ = std::move(waiting);
    log("reap " + std::to_string(n));
    return true;
  }

  const std::string& failure_text() const override { return failure_; }

  // Whether an I/O in flight moves bytes into or out of [begin, begin + size).
  bool touches(const void* begin, std::uint64_t size) const {
    const auto* b = static_cast<const unsigned char*>(begin);
    for (const FakeIo& io : ios_) {
      const auto* p = static_cast<const unsigned char*>(io.buffer);
      if (io.submitted && p < b + size && b < p + io.length) return true;
    }
    return false;
  }

 private:
  static IoCompletion complete(const FakeIo& io) {
    const QueueScript& script = sys().queue;
    IoCompletion c;
    c.tag = io.tag;
    if (const auto failed = script.fail_at.find(io.number); failed != script.fail_at.end()) {
      c.result = -1;
      c.error = failed->second;
      c.text = script.fail_text;
      log("failed " + std::to_string(io.number));
      return c;
    }
    std::uint64_t n = io.length;
    if (const auto cut = script.short_at.find(io.number); cut != script.short_at.end()) {
      n = std::min(n, cut->second);
    }
    File& f = file(io.file);
    if (io.direction == IoDirection::read) {
      const std::uint64_t size = f.data.size();
      n = io.offset < size ? std::min(n, size - io.offset) : 0;
      if (n != 0) std::memcpy(io.buffer, f.data.data() + io.offset, n);
    } else if (f.lost_writes_at.count(io.offset) == 0) {
      if (f.data.size() < io.offset + n) f.data.resize(io.offset + n);
      if (n != 0) std::memcpy(f.data.data() + io.offset, io.buffer, n);
    }
    c.result = static_cast<std::int64_t>(n);
    return c;
  }

  const std::uint32_t depth_;
  const std::vector<FileHandle> files_;
  std::vector<FakeIo> ios_;  // queued or in flight, oldest first
  std::string failure_;
};

}  // namespace
}  // namespace fake

std::unique_ptr<IoQueue> open_io_queue(const IoQueueSetup& setup, std::string& error) {
  log("open queue " + std::to_string(setup.depth));
  if (sys().queue.refuse) {
    error = sys().queue.refusal;
    return nullptr;
  }
  error = queue_depth_error(setup.depth);
  if (!error.empty()) return nullptr;
  std::vector<FileHandle> files;
  for (const QueueFile& f : setup.files) files.push_back(f.file);
  return std::make_unique<fake::FakeQueue>(setup.depth, std::move(files));
}

void* alloc_aligned(std::uint64_t n) {
  log("alloc " + std::to_string(n));
  if (++sys().allocs == sys().fail_alloc_call) return nullptr;
  ++sys().live_buffers;
  void* p = std::malloc(n == 0 ? 1 : n);
  sys().buffer_sizes[p] = n;
  return p;
}

void free_aligned(void* buffer) {
  log("free");
  --sys().live_buffers;
  const auto known = sys().buffer_sizes.find(buffer);
  if (known != sys().buffer_sizes.end()) {
    if (fake::g_live_queue != nullptr && fake::g_live_queue->touches(buffer, known->second)) {
      ++sys().freed_in_flight;
    }
    sys().buffer_sizes.erase(known);
  }
  std::free(buffer);
}

std::string last_error_text() { return {}; }

void fill_closed_standard_streams() {}

// No file of the fake system is ever one of the standard streams.
bool identity_of_name(const char*, FileIdentity&) { return false; }
bool identity_of_stream(StandardStream, FileIdentity&) { return false; }

bool error_stream_is_terminal(std::size_t&) { return false; }

std::uint32_t process_id() { return 1; }

}  // namespace kolvane
