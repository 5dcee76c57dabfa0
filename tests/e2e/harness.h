// Runs the built program as a user would: argument words, a working directory and standard
// input go in; both streams, the exit status and the files come out.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// What the Linux and the Windows program do differently; chosen by --target.
struct Traits {
  const char* eol;  // how text lines end on the console streams
  const char* absent_input;
  const char* absent_output;
  bool offset_halves;      // verbose offsets as "low %lu   high %ld"
  bool dos_program_word;   // the program sees its own path as Z:\...
  bool fixed_help_name;    // the full help names "kolvane" and has Windows examples
  bool linux_devices;      // meets the Linux-only cases: /dev/full, a directory as input, bs=4g
  const char* seek_error;  // the start of the message of a failed positioning of the output
};

struct Options {
  std::string binary, launcher;  // the program as given; an emulator to start it, or empty
  std::string preload;           // the fault interposer, when the fault cases can run
  const Traits* traits = nullptr;
  // The other build's program, for the cases that compare the two builds; empty: none.
  std::string peer_binary, peer_launcher;
  const Traits* peer_traits = nullptr;
  // kolvane-report of the build under test (run through `launcher`) and of the other build (run
  // through `peer_launcher`); empty: the cases that need it are skipped.
  std::string report_binary, peer_report_binary;
  // kolvane-mpi and the launcher that starts it; empty: the cases of many ranks are skipped.
  std::string mpi_binary, mpirun;
};
extern Options options;
inline const Traits& target() {
  return *options.traits;
}

// A signal sent to the running program once it has drained every chunk of its input pipe and
// its standard output and error together hold `after`.
struct Signal {
  int number;
  std::string after{};
};

// Standard input: /dev/null, a file of the working directory, or a pipe fed chunk by chunk,
// each chunk once the program has drained the one before and `pause_ms` more have passed. With
// `signals` the pipe stays open after the last chunk until they are sent, in turn, and the
// program's streams hold `close_after`.
struct Stdin {
  std::string file{};
  std::vector<std::string> chunks{};
  std::vector<Signal> signals{};
  std::string close_after{};
  int pause_ms = 0;
};

// Standard output and error: the harness's pipes unless a file is named (in the working
// directory, or an absolute path such as /dev/null). The same name for both is one open file,
// as "> f 2>&1" gives. `closed_out`: the program starts without standard output.
// `file_size_limit`: the largest file the program may write, in bytes (ulimit -f); 0: none.
struct Streams {
  std::string out{}, err{};
  bool closed_out = false;
  std::uint64_t file_size_limit = 0;
};

struct Result {
  std::string out, err;
  int status = -1;     // exit status, or 128 + signal
  double seconds = 0;  // from just before starting the program to seeing it end
};

std::string text(std::string lines);  // "\n" becomes the target's line end
std::string program_word();           // what usage and version print for the program
std::string offset_line(const char* label, std::uint64_t offset);
std::vector<std::uint64_t> parse_offsets(const std::string& err, const char* label);
// The same for the program of the given traits.
std::vector<std::uint64_t> parse_offsets(const std::string& err, const char* label,
                                         const Traits& traits);
// Standard error ends with `err` (its lines in the target's line ends), and then, with
// `try_help`, the line that sends the user to --help: what every refused word leaves.
void expect_err_ends_with(const Result& r, const std::string& err, bool try_help = false);
// An error prefix followed by the system's own one-line text.
void expect_error(const std::string& err, const std::string& prefix);
// Standard output: the start banner, `middle`, and the elapsed-time line when the run `ended`,
// with a time above 0 and within the time the harness saw the program run.
void expect_stdout(const Result& r, const std::string& middle, bool ended);
// The same for the lines meant for standard output wherever they went (`out`), with the
// elapsed time no more than `max_seconds`.
void expect_lines(const std::string& out, const std::string& middle, bool ended,
                  double max_seconds);
std::string random_bytes(std::size_t n, unsigned seed);

// The full records of every "F+0 records WHICH" line in `err`, in order ("in" or "out").
std::vector<long> full_records(const std::string& err, const char* which);
// The two records lines of a normal end ("3+1", "2+0").
inline std::string rec(const char* in, const char* out) {
  return in + std::string(" records in\n") + out + " records out\n";
}
inline const std::string kInputTooSmall =
    "error: the input file size is too small for the specified count, blocksize and skip values\n";
inline const std::string kOutputTooSmall =
    "error: the output file size is too small for the specified count, blocksize and seek values\n";

// A loop device over an image file, for the cases that need a real block device (root and
// losetup, Linux only); detached when it goes. `device()` is empty when none could be attached.
class LoopAttachment {
 public:
  LoopAttachment(const std::string& image, unsigned sector_size);
  ~LoopAttachment();
  LoopAttachment(const LoopAttachment&) = delete;
  LoopAttachment& operator=(const LoopAttachment&) = delete;
  const std::string& device() const { return device_; }

 private:
  std::string device_;
};

// Each test runs the program in a fresh directory, removed afterwards. Every JSON document a
// run left (a *.json file it made or changed, or a captured stream that is or ends with one) is
// validated against docs/kolvane-run.schema.json once the test is over: a document that does
// not match fails the test.
class E2e : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override {
    validate_documents();
    std::filesystem::remove_all(dir_);
  }
  // Words split at spaces; `env` ("NAME=value") is added to the program's environment.
  Result run(const std::string& words, const Stdin& in = {},
             const std::vector<std::string>& env = {}, const Streams& to = {}) const;
  // The same words run by the other build's program (options.peer_binary).
  Result run_peer(const std::string& words) const;
  // kolvane-report of the build under test, and of the other build.
  Result run_report(const std::string& words) const;
  Result run_peer_report(const std::string& words) const;
  // kolvane-mpi on `ranks` ranks of this host, started by the launcher.
  Result run_mpi(int ranks, const std::string& words, const Stdin& in = {}) const;
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // A new file of at least `size` bytes holding `bytes` at `at`, with a hole before them.
  void put(const std::string& name, const std::string& bytes, std::uint64_t at = 0,
           std::uint64_t size = 0) const;
  std::string get(const std::string& name, std::uint64_t at = 0) const;
  bool direct_io_refused() const;

  std::string dir_;

 private:
  Result start(const std::string& binary, const std::string& launcher, const std::string& words,
               const Stdin& in, const std::vector<std::string>& env, const Streams& to) const;
  Result launch(const std::string& binary, const std::string& launcher, const std::string& words,
                const Stdin& in, const std::vector<std::string>& env, const Streams& to) const;
  // The test directory's *.json files, by canonical path, with their bytes.
  std::map<std::string, std::string> json_files() const;
  // Keeps, for validation, the documents a run left: the files it made or changed since
  // `before`, and a stream that holds one.
  void keep_documents(const std::map<std::string, std::string>& before, const Result& r) const;
  void validate_documents() const;

  // What each run left, as "runN-FILE" or "runN-stderr" with its text (mutable: the tests run
  // the program through const members).
  mutable std::vector<std::pair<std::string, std::string>> documents_;
  mutable int runs_ = 0;
};

// Whether a run under an emulator ended the way a lost run of the emulator's own does: its
// client's error line, or a failure status with nothing at all on either captured stream (the
// program prints something on every failure). Such a run is not the program's doing.
bool emulator_lost_run(const Result& r, const Streams& to);

}  // namespace e2e
