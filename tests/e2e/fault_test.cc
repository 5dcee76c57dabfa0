// The Linux program with one of its calls made to fail, come back short or be interrupted (the
// interposer of tests/fault): each failure ends with its own message and status, leaves no
// descriptor open and writes nothing after it; a short or interrupted call changes nothing.
// Then inputs and outputs that are not regular files: a named pipe and a block device.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

enum Flags {
  kEarly = 1,        // the run ends before the output open: no "Please be patient..."
  kStdin = 2,        // no if=: standard input is the file "in"
  kExisting = 4,     // "out" exists before the run (conv=notrunc runs)
  kZeroBytes = 8,    // the data are the zero source's
  kOnStdout = 16,    // no of=: the data go to standard output, so its lines go to standard error
  kStdoutFile = 32,  // standard output is the file "out", as "> out" gives (with kOnStdout)
};

// "in" holds 4096 random bytes. `kept`: after the run "out" holds the first `kept` bytes of the
// data; -1: "out" is as it was before the run (absent, or its old bytes).
struct Fault {
  const char* name;
  const char* fault;  // CALL:N:ACTION
  const char* words;
  int status;
  std::string err;
  int flags = 0;
  long kept = -1;
};

const Fault kFaults[] = {
    {"OpenInput", "open:1:EACCES", "if=in of=out", 2, "error opening 'in': Permission denied\n",
     kEarly},
    {"OpenOutput", "open:2:EACCES", "if=in of=out", 2, "error opening 'out': Permission denied\n"},
    // The first fstat of a file tells what it is; the second one measures it.
    {"SizeOfInput", "fstat:2:EIO", "if=in of=out", 4,
     "error getting the size of 'in': Input/output error\n", kEarly},
    {"SizeOfStdin", "fstat:2:EIO", "of=out", 4,
     "error getting the size of 'standard input': Input/output error\n", kEarly | kStdin},
    // An existing output is first compared with standard output and error (fstat 1 and 2).
    {"SizeOfOutput", "fstat:5:EIO", "if=in of=out count=1 iterations=1 conv=notrunc", 4,
     "error getting the size of 'out': Input/output error\n", kExisting},
    // Files opened by name are read and written at offsets the program keeps, with no seek:
    // only standard input and output are positioned by the system.
    {"SkipInput", "lseek:1:EINVAL", "of=out count=2", 2,
     "error reading 'standard input': Invalid argument\n", kStdin, 0},
    {"SeekOutput", "lseek:1:EINVAL", "if=in count=2 seek=1", 2,
     "error writing to 'standard output': Invalid argument\n", kOnStdout | kStdoutFile, 0},
    {"FirstRead", "read:1:EIO", "if=in of=out", 3, "error reading 'in': Input/output error\n", 0,
     0},
    {"LaterRead", "read:3:EIO", "if=in of=out", 3, "error reading 'in': Input/output error\n", 0,
     1024},
    // The half block waiting in the output buffer is not written after the failure.
    {"ReadWithHalfBlockHeld", "read:2:EIO", "if=in of=out ibs=512 obs=1k", 3,
     "error reading 'in': Input/output error\n", 0, 0},
    {"StdinRead", "read:2:EIO", "of=out", 3, "error reading 'standard input': Input/output error\n",
     kStdin, 512},
    {"FirstWrite", "write:1:ENOSPC", "if=in of=out", 3,
     "error writing to 'out': No space left on device\n", 0, 0},
    {"LaterWrite", "write:3:ENOSPC", "if=in of=out bs=512 count=4", 3,
     "error writing to 'out': No space left on device\n", 0, 1024},
    {"WriteTakesNothing", "write:2:zero", "if=in of=out", 3,
     "error writing to 'out': No space left on device\n", 0, 512},
    {"ZeroSourceWrite", "write:2:EIO", "if=/dev/zero of=out count=4", 3,
     "error writing to 'out': Input/output error\n", kZeroBytes, 512},
    {"StdoutWrite", "write:1:EPIPE", "if=in", 3,
     "error writing to 'standard output': Broken pipe\n", kOnStdout},
    // Data may be lost when closing the output fails; closing the input does not matter.
    {"CloseOutput", "close:2:EIO", "if=in of=out", 3, "error closing 'out': Input/output error\n",
     0, 4096},
    {"CloseOutputFull", "close:2:ENOSPC", "if=in of=out bs=1k", 3,
     "error closing 'out': No space left on device\n", 0, 4096},
    {"CloseInput", "close:1:EIO", "if=in of=out", 0, rec("8+0", "8+0"), 0, 4096},

    {"MemalignInputBuffer", "memalign:1:ENOMEM", "if=in of=out", 6,
     "Error allocating aligned memory\n", 0, 0},
    {"MemalignOutputBuffer", "memalign:2:ENOMEM", "if=in of=out", 6,
     "Error allocating aligned memory\n", 0, 0},
    {"NoPlan", "new:1:ENOMEM", "if=in of=out count=1 iterations=3", 6,
     "Error allocating memory for the iteration plan\n", 0, 0},
    // The data were written, but may never reach the device: the run fails.
    {"SyncOutput", "fsync:1:EIO", "if=in of=out conv=fsync", 3,
     "error syncing 'out': Input/output error\n", 0, 4096},
    {"DataSyncOutput", "fdatasync:1:ENOSPC", "if=in of=out bs=1k conv=notrunc,fdatasync", 3,
     "error syncing 'out': No space left on device\n", kExisting, 4096},
    // Queued writes are synced the same way once the queue is drained.
    {"SyncQueuedOutput", "fsync:1:EIO", "if=in of=out bs=1k iodepth=4 conv=fsync", 3,
     "error syncing 'out': Input/output error\n", 0, 4096},
    {"DataSyncQueuedOutput", "fdatasync:1:ENOSPC",
     "if=in of=out bs=1k iodepth=4 conv=notrunc,fdatasync", 3,
     "error syncing 'out': No space left on device\n", kExisting, 4096},
    // Short and interrupted calls: the copy is whole and the records as without them.
    {"ShortWrite", "write:1:short", "if=in of=out bs=1k", 0, rec("4+0", "4+0"), 0, 4096},
    {"InterruptedWrite", "write:2:eintr", "if=in of=out bs=1k", 0, rec("4+0", "4+0"), 0, 4096},
    {"InterruptedRead", "read:2:eintr", "if=in of=out bs=1k", 0, rec("4+0", "4+0"), 0, 4096},
    // A short read is a partial record: 512, 1024, 1024, 1024, 512 bytes re-blocked by 1k.
    {"ShortRead", "read:1:short", "if=in of=out bs=1k", 0, rec("3+2", "4+0"), 0, 4096},
    {"ShortZeroSourceWrite", "write:1:short", "if=/dev/zero of=out count=2 bs=1k", 0,
     rec("2+0", "2+0"), kZeroBytes, 2048},
};

// The environment that loads the interposer with `fault` planned, its report to `report`.
std::vector<std::string> fault_env(const char* fault, const std::string& report) {
  // In a sanitizer build the interposer is loaded ahead of the sanitizer's runtime.
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {"LD_PRELOAD=" + fs::absolute(options.preload).string(),
          std::string("KOLVANE_FAULT=") + fault, "KOLVANE_FAULT_REPORT=" + report,
          std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
}

std::string read_report(const std::string& report) {
  std::ifstream file(report);
  return {std::istreambuf_iterator<char>(file), {}};
}

class Faults : public E2e, public ::testing::WithParamInterface<Fault> {};

TEST_P(Faults, EndAsTheyMust) {
  const Fault& f = GetParam();
  if (options.preload.empty())
    GTEST_SKIP() << "no fault interposer for this program";
  const std::string in = random_bytes(4096, 11), old = random_bytes(4096, 12);
  put("in", in);
  if (f.flags & kExisting)
    put("out", old);
  const Result r =
      run(f.words, Stdin{.file = (f.flags & kStdin) ? "in" : ""},
          fault_env(f.fault, path("report")), Streams{.out = (f.flags & kStdoutFile) ? "out" : ""});

  EXPECT_EQ(r.status, f.status);
  const bool moved = f.flags & kOnStdout;
  const std::size_t lines = r.err.size() > f.err.size() ? r.err.size() - f.err.size() : 0;
  EXPECT_EQ(r.err.substr(moved ? lines : 0), f.err);
  expect_lines(moved ? r.err.substr(0, lines) : r.out,
               (f.flags & kEarly) ? "" : "Please be patient...\n", f.status == 0, r.seconds);
  if (moved) {
    EXPECT_EQ(r.out, "");
  }
  // The fault was met, no read or write followed a failure, every descriptor was closed.
  EXPECT_EQ(read_report(path("report")), "fired=1 after=0\n");
  const std::string data = (f.flags & kZeroBytes) ? std::string(4096, '\0') : in;
  EXPECT_EQ(fs::exists(path("out")), f.kept >= 0 || (f.flags & kExisting));
  EXPECT_EQ(get("out"), f.kept >= 0             ? data.substr(0, static_cast<std::size_t>(f.kept))
                        : (f.flags & kExisting) ? old
                                                : "");
}

INSTANTIATE_TEST_SUITE_P(Table, Faults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// Runs the fault planned for them never meets: no sync of what keeps no data of its own, no
// plan for iterations drawn as the run goes.
TEST_F(E2e, FaultsNotMet) {
  if (options.preload.empty())
    GTEST_SKIP() << "no fault interposer for this program";
  put("in", random_bytes(4096, 13));
  const struct {
    const char* fault;
    const char* words;
  } rows[] = {
      {"fsync:1:EIO", "if=in of=/dev/null conv=fsync"},
      {"fsync:1:EIO", "if=in conv=fsync"},  // standard output: the harness's pipe
      {"fdatasync:1:EIO", "if=in of=/dev/null conv=fdatasync"},
      {"new:1:ENOMEM", "if=in of=/dev/null count=1 runtime=1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    const Result r = run(row.words, {}, fault_env(row.fault, path("report")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(" records out\n"), std::string::npos) << r.err;
    EXPECT_EQ(read_report(path("report")), "fired=0 after=0\n");
  }
}

// A file opened by name takes one positioned call per block and never a seek, however many
// iterations move it about; standard input, whose position a shell may share, is positioned
// by a seek and read where it stands. The interposer counts the program's calls.
TEST_F(E2e, OnePositionedCallPerBlock) {
  if (options.preload.empty())
    GTEST_SKIP() << "no fault interposer for this program";
  const std::string in = random_bytes(65536, 14);
  const struct {
    const char* words;
    bool from_stdin;
    const char* calls;
  } rows[] = {
      {"if=in of=/dev/null bs=512 count=1 iterations=8", false,
       "read=0 pread=8 write=0 pwrite=0 lseek=0\n"},
      {"if=in of=out bs=1k count=2 iterations=4 conv=notrunc", false,
       "read=0 pread=8 write=0 pwrite=8 lseek=0\n"},
      // Each block written is read back where it went, with no seek back.
      {"if=in of=out bs=4k count=3 verify=1 conv=notrunc", false,
       "read=0 pread=6 write=0 pwrite=3 lseek=0\n"},
      {"of=/dev/null bs=512 count=1 iterations=8", true,
       "read=8 pread=0 write=0 pwrite=0 lseek=8\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    put("in", in);
    put("out", std::string(65536, 'x'));
    std::vector<std::string> env = fault_env("none:0:none", path("report"));
    env.push_back("KOLVANE_FAULT_CALLS=" + path("calls"));
    const Result r = run(row.words, Stdin{.file = row.from_stdin ? "in" : ""}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_report(path("calls")), row.calls);
  }
}

// Runs of the Linux program on a device or a pipe, one table row each.
struct Row {
  const char* words;
  int status;
  std::string err, out;  // what "out" holds afterwards; "-": no such file
  std::string dev{};     // what the device holds afterwards
};

class Devices : public E2e {
 protected:
  void SetUp() override {
    E2e::SetUp();
    if (!target().linux_devices)
      GTEST_SKIP() << "a Linux-only case";
  }
  void expect_row(const Result& r, const Row& row) const {
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err, row.err);
    // Only a refused input ends the run before the output open.
    expect_stdout(r, row.err == kInputTooSmall ? "" : "Please be patient...\n", row.status == 0);
    EXPECT_EQ(fs::exists(path("out")), row.out != "-");
    EXPECT_EQ(get("out"), row.out == "-" ? "" : row.out);
  }
};

// Writes `data` into a named pipe once a reader has it open (a reader waiting in its open
// counts), then closes it.
void feed_fifo(const std::string& fifo, const std::string& data, const std::atomic<bool>& done) {
  int fd = -1;
  while (!done && (fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) usleep(1000);
  if (fd < 0)
    return;
  // A reader that leaves without reading makes the write fail; that is no concern here.
  [[maybe_unused]] const bool written =
      fcntl(fd, F_SETFL, 0) == 0 && write(fd, data.data(), data.size()) >= 0;
  close(fd);
}

TEST_F(Devices, NamedPipeInput) {
  ASSERT_EQ(mkfifo(path("in").c_str(), 0600), 0);
  const std::string data = random_bytes(1000, 21);  // one write, which the pipe takes whole
  for (const Row& row :
       {Row{"if=in of=out bs=512", 0, rec("1+1", "1+1"), data},
        Row{"if=in of=out bs=512 count=1", 0, rec("1+0", "1+0"), data.substr(0, 512)},
        Row{"if=in of=out bs=512 skip=1", 0, rec("0+1", "0+1"), data.substr(512)}}) {
    SCOPED_TRACE(row.words);
    fs::remove(path("out"));
    std::atomic<bool> done{false};
    std::thread writer(feed_fifo, path("in"), data, std::cref(done));
    const Result r = run(row.words);
    done = true;
    writer.join();
    expect_row(r, row);
  }
}

// A loop device with 4096-byte sectors over a 64 KiB image, reached as "dev" in the test's
// directory and detached when the test ends.
class LoopDevice : public Devices {
 protected:
  void SetUp() override {
    Devices::SetUp();
    if (IsSkipped() || geteuid() != 0)
      GTEST_SKIP() << "a loop device needs root";
    put("image", image_);
    loop_ = std::make_unique<LoopAttachment>(path("image"), 4096);
    device_ = loop_->device();
    if (device_.empty())
      GTEST_SKIP() << "losetup failed";
    fs::create_symlink(device_, path("dev"));
  }
  void TearDown() override {
    loop_.reset();
    Devices::TearDown();
  }

  // Puts the image's bytes back, through the device so that its cache agrees.
  void restore() const {
    const int fd = open(device_.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(write(fd, image_.data(), image_.size()), static_cast<ssize_t>(image_.size()));
    EXPECT_EQ(fsync(fd), 0);
    close(fd);
  }

  const std::string image_ = random_bytes(65536, 22);
  std::unique_ptr<LoopAttachment> loop_;
  std::string device_;
};

// The device measures its capacity, 64 KiB, so count=, skip= and iterations= work on it.
TEST_F(LoopDevice, SizeIsTheCapacity) {
  const std::string in = random_bytes(8192, 23), &image = image_;
  put("in", in);
  const std::string einval = std::string(std::strerror(EINVAL)) + "\n";
  // Without conv=notrunc the writes start at byte 0 and the rest of the device stays.
  const Row rows[] = {
      {"if=dev of=out count=1", 0, rec("1+0", "1+0"), image.substr(0, 512), image},
      {"if=dev of=out bs=4k skip=14 count=1", 0, rec("1+0", "1+0"), image.substr(57344, 4096),
       image},
      {"if=dev of=out bs=4k count=17", 5, kInputTooSmall, "-", image},
      {"if=dev of=out bs=4k", 0, rec("16+0", "16+0"), image, image},
      {"if=dev of=out bs=4k dio=1", 0, rec("16+0", "16+0"), image, image},
      {"if=dev of=out bs=512 dio=1", 3, "error reading 'dev': " + einval, "", image},
      {"if=in of=dev conv=notrunc", 0, rec("16+0", "16+0"), "-", in + image.substr(in.size())},
      {"if=in of=dev bs=4k count=1 seek=14 conv=notrunc", 0, rec("1+0", "1+0"), "-",
       image.substr(0, 57344) + in.substr(0, 4096) + image.substr(61440)},
      {"if=in of=dev bs=512 dio=2", 3, "error writing to 'dev': " + einval, "-", image},
      {"if=in of=dev bs=1k", 0, rec("8+0", "8+0"), "-", in + image.substr(in.size())},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.words);
    fs::remove(path("out"));
    restore();
    expect_row(run(row.words), row);
    EXPECT_EQ(get("dev"), row.dev);
  }
  // Random offsets land inside the device, on block boundaries.
  const Result r = run("if=dev of=/dev/null bs=4k count=1 iterations=6 verbose=1");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::uint64_t> skips = parse_offsets(r.err, "skip");
  EXPECT_EQ(skips.size(), 6u);
  for (const std::uint64_t skip : skips) {
    EXPECT_EQ(skip % 4096, 0u);
    EXPECT_LE(skip, 61440u);
  }
}

// With I/Os in flight the device behaves as it does for one at a time: whole sectors go both
// ways, and a transfer it refuses (512 bytes direct on 4096-byte sectors) fails in flight and
// ends the run with the message and status of the synchronous copy.
TEST_F(LoopDevice, QueuedTransfersMeetTheDevice) {
  const std::string in = random_bytes(8192, 25), &image = image_;
  put("in", in);
  const std::string einval = std::string(std::strerror(EINVAL)) + "\n";
  const Row rows[] = {
      {"if=dev of=out bs=4k iodepth=8", 0, rec("16+0", "16+0"), image, image},
      {"if=dev of=out bs=4k dio=1 iodepth=8", 0, rec("16+0", "16+0"), image, image},
      {"if=dev of=/dev/null bs=512 dio=1 iodepth=8", 3, "error reading 'dev': " + einval, "-",
       image},
      {"if=dev of=/dev/null bs=512 count=4 iterations=50 dio=1 iodepth=8", 3,
       "error reading 'dev': " + einval, "-", image},
      {"if=in of=dev bs=512 dio=2 iodepth=8", 3, "error writing to 'dev': " + einval, "-", image},
      {"if=in of=dev bs=4k dio=2 iodepth=8", 0, rec("2+0", "2+0"), "-",
       in + image.substr(in.size())},
      {"if=in of=dev bs=4k count=1 iterations=30 seed=5 dio=2 iodepth=8 conv=notrunc", 0,
       rec("30+0", "30+0"), "-", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.words);
    fs::remove(path("out"));
    restore();
    expect_row(run(row.words), row);
    if (!row.dev.empty()) {
      EXPECT_EQ(get("dev"), row.dev);
    }
  }
}

// A copy that runs off the end of the device: the records out are the blocks that landed, in
// order, at every depth, counting the writes that complete after the one that failed.
TEST_F(LoopDevice, RecordsCountWhatLandedBeforeTheEnd) {
  const std::string in = random_bytes(100000, 27);
  put("in", in);
  for (const char* depth : {"1", "8"}) {
    SCOPED_TRACE(depth);
    restore();
    const Result r = run(std::string("if=in of=dev bs=4k seek=2 json=j.json iodepth=") + depth);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "error writing to 'dev': " + std::string(std::strerror(ENOSPC)) + "\n");
    const auto records = nlohmann::json::parse(get("j.json"))["records"]["out"];
    EXPECT_EQ(records["full"], 14);
    EXPECT_EQ(records["partial"], 0);
    EXPECT_EQ(get("dev"), image_.substr(0, 8192) + in.substr(0, 57344));
  }
}

// The same copy by two workers: the second runs off the end and ends the run with its message.
// The first stops once the other fails: the records count the blocks that landed in order from
// the copy's first, and the blocks the second landed past a gap the first left are listed apart.
TEST_F(LoopDevice, AWorkerThatRunsOffTheEndEndsTheRun) {
  const std::string in = random_bytes(100000, 27);
  put("in", in);
  const struct {
    const char* words;
    long block, second, lands;  // block size; the second worker's first block; how many land
  } rows[] = {
      {"if=in of=dev bs=512 seek=30 json=j.json workers=2", 512, 98, 0},
      {"if=in of=dev bs=4k seek=2 json=j.json workers=2", 4096, 12, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    restore();
    const Result r = run(row.words);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "error writing to 'dev': " + std::string(std::strerror(ENOSPC)) + "\n");
    const auto doc = nlohmann::json::parse(get("j.json"));
    // The device ends where the second worker's last landed block ends.
    const long out = doc["records"]["out"]["full"];
    const long seek = 65536 - (row.second + row.lands) * row.block;
    const std::string dev = get("dev");
    EXPECT_EQ(dev.substr(seek, out * row.block), in.substr(0, out * row.block));
    if (out < row.second) {
      // The first worker stopped early: the second's blocks are past the gap.
      EXPECT_EQ(doc["records"]["in"]["full"], out);
      if (row.lands == 0) {
        EXPECT_FALSE(doc.contains("copied_beyond_records"));
      } else {
        EXPECT_EQ(doc["copied_beyond_records"],
                  nlohmann::json::parse("[{\"first_block\": " + std::to_string(row.second) +
                                        ", \"blocks\": " + std::to_string(row.lands) + "}]"));
      }
    } else {
      // The first worker finished: the second's blocks follow, the failed one read, not written.
      EXPECT_EQ(out, row.second + row.lands);
      EXPECT_EQ(doc["records"]["in"]["full"], out + 1);
      EXPECT_FALSE(doc.contains("copied_beyond_records"));
    }
  }
}

// A sparse output on a file system too small for it: the queued writes that find no room fail
// in flight with the system's text, as the synchronous copy's write does, and the run ends with
// status 3 without its records lines.
TEST_F(Devices, QueuedWritesMeetAFullFileSystem) {
  if (geteuid() != 0)
    GTEST_SKIP() << "mounting a small file system needs root";
  fs::create_directory(path("small"));
  if (std::system(
          ("mount -t tmpfs -o size=256k tmpfs " + path("small") + " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "tmpfs could not be mounted";
  put("in", random_bytes(1 << 20, 26));
  const std::string full =
      "error writing to 'small/out': " + std::string(std::strerror(ENOSPC)) + "\n";
  for (const char* depth : {"1", "8"}) {
    SCOPED_TRACE(depth);
    { std::ofstream sparse(path("small/out"), std::ios::binary | std::ios::trunc); }
    fs::resize_file(path("small/out"), 1 << 20);
    const Result r = run(std::string("if=in of=small/out bs=4k conv=notrunc iodepth=") + depth);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, full);
    fs::remove(path("small/out"));
  }
  // Lazily: the kernel may let go of the files a moment after the program ended.
  EXPECT_EQ(std::system(("umount -l " + path("small")).c_str()), 0);
}

// The file-size limit (ulimit -f) ends the run as a failed write at every depth: its signal is
// ignored, so the program is not killed, and the output keeps the whole blocks under the limit.
TEST_F(Devices, FileSizeLimitEndsTheRunAsAFailedWrite) {
  const std::string in = random_bytes(1000000, 27);
  put("in", in);
  const std::uint64_t limit = 300 * 1024;  // 75 blocks of 4 KiB
  const std::string too_large =
      "error writing to 'out': " + std::string(std::strerror(EFBIG)) + "\n";
  for (const char* depth : {"1", "4"}) {
    SCOPED_TRACE(depth);
    const Result r = run(std::string("if=in of=out bs=4k iodepth=") + depth, {}, {},
                         Streams{.file_size_limit = limit});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, too_large);
    EXPECT_EQ(get("out"), in.substr(0, limit));
  }
}

// An output device that is claimed (here by the test, as a mounted file system would be) is
// refused, and none of its bytes change; reading it stays allowed.
TEST_F(LoopDevice, ClaimedDeviceIsNotWritten) {
  const int claim = open(device_.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  ASSERT_GE(claim, 0) << std::strerror(errno);
  put("in", random_bytes(8192, 24));
  const std::string busy = std::string(std::strerror(EBUSY)) + "\n";
  const Row rows[] = {
      {"if=in of=dev", 2, "error opening 'dev': " + busy, "-", image_},
      {"if=in of=dev conv=notrunc bs=4k count=1", 2, "error opening 'dev': " + busy, "-", image_},
      {"if=dev of=out bs=4k", 0, rec("16+0", "16+0"), image_, image_},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.words);
    expect_row(run(row.words), row);
    EXPECT_EQ(get("dev"), row.dev);
  }
  close(claim);
}

}  // namespace
}  // namespace e2e
