#include "fake_backend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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

FileHandle find(const char* name) {
  for (auto& [h, f] : sys().files) {
    if (name != nullptr && f.name == name) return h;
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

bool output_exists(const char* name) { return fake::find(name) != kNoFile; }

FileHandle open_output(const char* name, bool, bool notrunc, bool& output_preexists) {
  output_preexists = notrunc && output_exists(name);
  if (notrunc && !output_preexists) return kNoFile;
  const FileHandle h = fake::open_named(name, "open_output");
  if (h != kNoFile && !notrunc) fake::file(h).data.clear();
  return h;
}

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

std::int64_t read_block(FileHandle h, void* buffer, std::uint64_t n) {
  fake::File& f = fake::file(h);
  log("read " + std::to_string(h) + " " + std::to_string(n));
  if (++f.reads == f.fail_read_call) return -1;
  const std::uint64_t size = f.data.size();
  const std::uint64_t left = f.position < size ? size - f.position : 0;
  const std::uint64_t got = std::min({n, left, f.read_limit});
  if (got != 0) std::memcpy(buffer, f.data.data() + f.position, got);
  f.position += got;
  return static_cast<std::int64_t>(got);
}

bool write_block(FileHandle h, const void* buffer, std::uint64_t n, bool unaligned_tail) {
  fake::File& f = fake::file(h);
  log("write " + std::to_string(h) + " " + std::to_string(n) + (unaligned_tail ? " tail" : ""));
  if (++f.writes == f.fail_write_call) return false;
  if (f.data.size() < f.position + n) f.data.resize(f.position + n);
  std::memcpy(f.data.data() + f.position, buffer, n);
  f.position += n;
  return true;
}

void close_file(FileHandle h) {
  log("close " + std::to_string(h));
  fake::file(h).open = false;
}

void* alloc_aligned(std::uint64_t n) {
  log("alloc " + std::to_string(n));
  if (++sys().allocs == sys().fail_alloc_call) return nullptr;
  ++sys().live_buffers;
  return std::malloc(n == 0 ? 1 : n);
}

void free_aligned(void* buffer) {
  log("free");
  --sys().live_buffers;
  std::free(buffer);
}

std::string last_error_text() { return {}; }

std::uint32_t process_id() { return 1; }

}  // namespace kolvane
