#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

namespace e2e {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const Traits posix_traits = {"\n", "standard input",  "standard output", false, false, false,
                             true, "error writing to"};
const Traits win32_traits = {"\r\n", "(null)", "(null)", true, true, true, false, "error seeking"};
Options options;

namespace {

// Waits until the reader has taken every byte of the pipe, or the run is over.
void wait_drained(int fd, const std::atomic<bool>& finished) {
  int queued = 1;
  while (!finished && ioctl(fd, FIONREAD, &queued) == 0 && queued > 0) usleep(1000);
}

// Writes to a blocking pipe take the whole chunk unless the reader is gone; each chunk after
// the first waits until the one before is drained and `pause_ms` more have passed. With `hold`,
// the pipe stays open once drained (`drained` set) until `release` or the end of the run.
void feed(int fd, const std::vector<std::string>& chunks, int pause_ms, bool hold,
          std::atomic<bool>& drained, const std::atomic<bool>& release,
          const std::atomic<bool>& finished) {
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (i > 0)
      wait_drained(fd, finished);
    if (i > 0 && pause_ms > 0)
      usleep(static_cast<useconds_t>(pause_ms) * 1000);
    if (write(fd, chunks[i].data(), chunks[i].size()) < 0)
      break;
  }
  if (hold) {
    wait_drained(fd, finished);
    drained = true;
    while (!release && !finished) usleep(1000);
  }
  close(fd);
}

}  // namespace

namespace {

// In the child, after the working directory is set: standard output and error, and the
// file-size limit, as `to` says.
bool redirect(const Streams& to) {
  const auto open_on = [](const std::string& name, int fd) {
    const int file = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    return file >= 0 && dup2(file, fd) == fd && close(file) == 0;
  };
  if (!to.out.empty() && !open_on(to.out, 1))
    return false;
  if (!to.err.empty() && !(to.err == to.out ? dup2(1, 2) == 2 : open_on(to.err, 2)))
    return false;
  const rlimit limit{to.file_size_limit, to.file_size_limit};
  if (to.file_size_limit != 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0)
    return false;
  return !to.closed_out || close(1) == 0;
}

}  // namespace

std::vector<long> full_records(const std::string& err, const char* which) {
  const std::regex line(std::string(R"((\d+)\+0 records )") + which);
  std::vector<long> counts;
  for (std::sregex_iterator i(err.begin(), err.end(), line), end; i != end; ++i)
    counts.push_back(std::stol((*i)[1]));
  return counts;
}

Result E2e::run(const std::string& words, const Stdin& in, const std::vector<std::string>& env,
                const Streams& to) const {
  return start(options.binary, options.launcher, words, in, env, to);
}

Result E2e::run_peer(const std::string& words) const {
  return start(options.peer_binary, options.peer_launcher, words, {}, {"WINEDEBUG=-all"}, {});
}

Result E2e::run_report(const std::string& words) const {
  return start(options.report_binary, options.launcher, words, {}, {}, {});
}

Result E2e::run_mpi(int ranks, const std::string& words, const Stdin& in) const {
  return start(options.mpirun, "",
               "--allow-run-as-root --oversubscribe -np " + std::to_string(ranks) + " " +
                   fs::absolute(options.mpi_binary).string() + " " + words,
               in, {}, {});
}

Result E2e::run_peer_report(const std::string& words) const {
  return start(options.peer_report_binary, options.peer_launcher, words, {}, {"WINEDEBUG=-all"},
               {});
}

bool emulator_lost_run(const Result& r, const Streams& to) {
  if (r.err.find("wine client error") != std::string::npos)
    return true;
  const bool captured = to.out.empty() && to.err.empty() && !to.closed_out;
  return captured && r.status != 0 && r.out.empty() && r.err.empty();
}

// Wine now and then loses a run between its server and a starting program (seen once in some
// thousands of starts on a loaded machine). The run is made again, at most twice, and said in
// the test's log; a program that fails the same way every time still fails its test.
Result E2e::start(const std::string& binary, const std::string& launcher, const std::string& words,
                  const Stdin& in, const std::vector<std::string>& env, const Streams& to) const {
  const std::map<std::string, std::string> before = json_files();
  Result r = launch(binary, launcher, words, in, env, to);
  for (int again = 0; again < 2 && !launcher.empty() && emulator_lost_run(r, to); ++again) {
    std::fprintf(stderr,
                 "note: the emulator lost a run of '%s' (status %d, on error: \"%s\"); "
                 "running it again\n",
                 words.c_str(), r.status, r.err.c_str());
    r = launch(binary, launcher, words, in, env, to);
  }
  keep_documents(before, r);
  return r;
}

std::map<std::string, std::string> E2e::json_files() const {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (fs::recursive_directory_iterator
           it(dir_, fs::directory_options::skip_permission_denied, error),
       end;
       !error && it != end; it.increment(error)) {
    // Regular files only (through links): a FIFO named *.json would never end a read.
    if (it->path().extension() != ".json" || !fs::is_regular_file(it->path(), error))
      continue;
    std::ifstream f(it->path(), std::ios::binary);
    files[fs::weakly_canonical(it->path(), error).string()] = {std::istreambuf_iterator<char>(f),
                                                               {}};
  }
  return files;
}

namespace {

// The document a captured stream holds: all of it, or from the line where a document starts to
// the end (json=- writes it after the records lines). Empty: none.
std::string document_in(const std::string& stream) {
  for (std::size_t at = stream.starts_with('{') ? 0 : stream.find("\n{"); at != std::string::npos;
       at = stream.find("\n{", at + 1)) {
    const std::string rest = stream.substr(at);
    if (nlohmann::json::accept(rest))
      return rest;
  }
  return {};
}

std::string quoted(const std::string& word) {
  std::string q = "'";
  for (const char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

void E2e::keep_documents(const std::map<std::string, std::string>& before, const Result& r) const {
  const std::string run = "run" + std::to_string(++runs_) + "-";
  for (const auto& [name, bytes] : json_files()) {
    const auto old = before.find(name);
    if (old == before.end() || old->second != bytes)
      documents_.emplace_back(run + fs::path(name).filename().string(), bytes);
  }
  for (const auto& [stream, captured] :
       {std::pair{"stdout", &r.out}, std::pair{"stderr", &r.err}}) {
    const std::string document = document_in(*captured);
    if (!document.empty())
      documents_.emplace_back(run + stream, document);
  }
}

// One validator process for all of a test's documents (a quarter of a second of processor time
// for each test that made any, nothing for the others), so that a document that does not match
// fails the test that made it, with its run and file named, whichever tests ctest was asked for.
void E2e::validate_documents() const {
  if (documents_.empty())
    return;
  if (std::string(KOLVANE_PYTHON3).empty()) {
    std::printf("note: %zu JSON documents not validated: no python3\n", documents_.size());
    return;
  }
  std::string dir = (fs::temp_directory_path() / "kolvane-documents-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  std::string command =
      std::string(KOLVANE_PYTHON3) + " " + quoted(KOLVANE_VALIDATOR) + " " + quoted(KOLVANE_SCHEMA);
  for (std::size_t i = 0; i < documents_.size(); ++i) {
    const std::string file = dir + "/" + std::to_string(i + 1) + "-" + documents_[i].first;
    std::ofstream(file, std::ios::binary) << documents_[i].second;
    command += " " + quoted(file);
  }
  std::string said;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr) << command;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) said.append(buffer, n);
  const int status = pclose(p);
  fs::remove_all(dir);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code == 77) {
    std::printf("note: %zu JSON documents not validated: %s", documents_.size(), said.c_str());
    return;
  }
  EXPECT_EQ(code, 0) << "documents not valid against " << KOLVANE_SCHEMA << ":\n" << said;
}

Result E2e::launch(const std::string& binary, const std::string& launcher, const std::string& words,
                   const Stdin& in, const std::vector<std::string>& env, const Streams& to) const {
  const std::string exe = fs::absolute(binary).string();
  // Natively the program word stays exactly as given; an emulator is given the path itself.
  std::vector<std::string> all = {launcher.empty() ? binary : launcher};
  if (!launcher.empty())
    all.push_back(exe);
  std::istringstream split(words);
  for (std::string word; std::getline(split, word, ' ');) all.push_back(word);
  std::vector<char*> argv;
  for (std::string& word : all) argv.push_back(word.data());
  argv.push_back(nullptr);
  // The harness's environment, but a variable named in `env` takes the value given there.
  std::vector<std::string> vars = env;
  const auto name = [](const std::string& var) { return var.substr(0, var.find('=') + 1); };
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::none_of(env.begin(), env.end(), [&](const auto& v) { return name(v) == name(*e); }))
      vars.push_back(*e);
  }
  std::vector<char*> envp;
  for (std::string& var : vars) envp.push_back(var.data());
  envp.push_back(nullptr);
  const std::string file = launcher.empty() ? exe : launcher;
  const std::string input = in.file.empty() ? "/dev/null" : path(in.file);
  int out[2], err[2], feeder[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(feeder, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2 failed";
    return {};
  }
  const bool piped = !in.chunks.empty();
  const Clock::time_point spawned = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = piped ? feeder[0] : open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (chdir(dir_.c_str()) == 0 && dup2(fd, 0) == 0 && dup2(out[1], 1) == 1 &&
        dup2(err[1], 2) == 2 && redirect(to)) {
      signal(SIGPIPE, SIG_DFL);
      execve(file.c_str(), argv.data(), envp.data());
    }
    _exit(127);
  }
  for (const int fd : {out[1], err[1], feeder[0]}) close(fd);
  std::atomic<bool> finished{false}, drained{false}, release{false};
  const bool hold = piped && !in.signals.empty();
  std::thread writer(feed, feeder[1], piped ? in.chunks : std::vector<std::string>{}, in.pause_ms,
                     hold, std::ref(drained), std::cref(release), std::cref(finished));
  std::size_t signalled = 0;
  Result r;
  const auto shown = [&r](const std::string& text) {
    return r.out.find(text) != std::string::npos || r.err.find(text) != std::string::npos;
  };
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  const Clock::time_point start = Clock::now();
  Clock::time_point last = start;
  int status = 0;
  bool exited = false;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const int ready = poll(fds, 2, 50);
    for (pollfd& p : fds) {
      if (p.revents == 0)
        continue;
      char buffer[65536];
      const ssize_t n = read(p.fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[&p - fds]->append(buffer, static_cast<std::size_t>(n));
        last = Clock::now();
      } else if (n == 0 || errno != EINTR) {
        close(p.fd);
        p.fd = -1;
      }
    }
    if (hold && drained && !exited && signalled < in.signals.size() &&
        shown(in.signals[signalled].after))
      kill(pid, in.signals[signalled++].number);
    if (hold && signalled == in.signals.size() && shown(in.close_after))
      release = true;
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      last = Clock::now();
      r.seconds = std::chrono::duration<double>(last - spawned).count();
    }
    // Processes the program started (an emulator's services) may hold its pipes open.
    // Under load, an emulator may hand on the last of the program's output well after it
    // exited: wait a while for it before giving up on the pipes.
    if (exited && ready == 0 && Clock::now() - last > 1500ms)
      break;
    if (!exited && Clock::now() - start > 60s)
      kill(pid, SIGKILL);
  }
  for (const pollfd& p : fds) close(p.fd);
  if (!exited) {
    waitpid(pid, &status, 0);
    r.seconds = std::chrono::duration<double>(Clock::now() - spawned).count();
  }
  finished = true;
  writer.join();
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

std::string text(std::string lines) {
  const std::string eol = target().eol;
  for (std::size_t at = 0; (at = lines.find('\n', at)) != std::string::npos; at += eol.size()) {
    lines.replace(at, 1, eol);
  }
  return lines;
}

std::string program_word() {
  if (!target().dos_program_word)
    return options.binary;
  std::string p = fs::absolute(options.binary).lexically_normal().string();
  std::replace(p.begin(), p.end(), '/', '\\');
  return "Z:" + p;
}

std::string offset_line(const char* label, std::uint64_t offset) {
  if (!target().offset_halves)
    return text(label + (": " + std::to_string(offset)) + "\n");
  return text(label + (": low " + std::to_string(static_cast<std::uint32_t>(offset))) + "   high " +
              std::to_string(static_cast<std::int32_t>(offset >> 32)) + "\n");
}

std::vector<std::uint64_t> parse_offsets(const std::string& err, const char* label) {
  return parse_offsets(err, label, target());
}

std::vector<std::uint64_t> parse_offsets(const std::string& err, const char* label,
                                         const Traits& traits) {
  const std::regex line(
      label + std::string(traits.offset_halves ? ": low (\\d+)   high (\\d+)" : ": (\\d+)()"));
  std::vector<std::uint64_t> found;
  for (std::sregex_iterator m(err.begin(), err.end(), line), end; m != end; ++m) {
    const std::uint64_t high = (*m)[2].length() != 0 ? std::stoull((*m)[2]) : 0;
    found.push_back((high << 32) + std::stoull((*m)[1]));
  }
  return found;
}

void expect_error(const std::string& err, const std::string& prefix) {
  ASSERT_EQ(err.substr(0, prefix.size()), prefix);
  const std::regex system_text("[^\r\n]+" + std::string(target().eol));
  EXPECT_TRUE(std::regex_match(err.substr(prefix.size()), system_text)) << err;
}

void expect_stdout(const Result& r, const std::string& middle, bool ended) {
  expect_lines(r.out, middle, ended, r.seconds);
}

void expect_lines(const std::string& out, const std::string& middle, bool ended,
                  double max_seconds) {
  const std::string eol = target().eol;
  const std::size_t banner = 23 + 24 + 2 * eol.size();  // the text, ctime's, two line ends
  EXPECT_TRUE(std::regex_match(out.substr(0, banner),
                               std::regex("Today's date and time: [A-Z][a-z]{2} [A-Z][a-z]{2} "
                                          "[ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}" +
                                          eol + eol)))
      << out;
  const std::string rest = out.substr(std::min(banner, out.size()));
  EXPECT_EQ(rest.substr(0, middle.size()), middle);
  const std::string end = rest.substr(std::min(middle.size(), rest.size()));
  if (!ended) {
    EXPECT_EQ(end, "");
    return;
  }
  // Microseconds, and no more than the time from starting the program to seeing it end.
  std::smatch elapsed;
  ASSERT_TRUE(
      std::regex_match(end, elapsed, std::regex("Elapsed time = (\\d+\\.\\d{6}) seconds\\." + eol)))
      << end;
  const double seconds = std::stod(elapsed[1].str());
  EXPECT_GT(seconds, 0.0) << end;
  EXPECT_LE(seconds, max_seconds) << end;
}

std::string random_bytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xFF);
  return bytes;
}

void E2e::SetUp() {
  std::string dir = (fs::temp_directory_path() / "kolvane-e2e-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  dir_ = dir;
}

void E2e::put(const std::string& name, const std::string& bytes, std::uint64_t at,
              std::uint64_t size) const {
  std::ofstream(path(name), std::ios::binary).close();
  fs::resize_file(path(name), size);
  std::fstream f(path(name), std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(at)).write(bytes.data(), std::ssize(bytes));
}

std::string E2e::get(const std::string& name, std::uint64_t at) const {
  std::ifstream f(path(name), std::ios::binary);
  f.seekg(static_cast<std::streamoff>(at));
  return {std::istreambuf_iterator<char>(f), {}};
}

// Whether this file system refuses direct writes of 512-byte blocks.
bool E2e::direct_io_refused() const {
  const int fd = open(path("probe").c_str(), O_WRONLY | O_CREAT | O_DIRECT | O_CLOEXEC, 0600);
  void* block = std::aligned_alloc(4096, 4096);
  const bool refused = fd < 0 || pwrite(fd, block, 512, 512) < 0;
  std::free(block);
  close(fd);
  unlink(path("probe").c_str());
  return refused;
}

LoopAttachment::LoopAttachment(const std::string& image, unsigned sector_size) {
  if (geteuid() != 0)
    return;
  const std::string command =
      "losetup -f --show --sector-size " + std::to_string(sector_size) + " " + image;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  char line[64] = "";
  if (p != nullptr && std::fgets(line, sizeof line, p) != nullptr)
    device_ = std::string(line, std::strcspn(line, "\n"));
  if (p != nullptr)
    pclose(p);
}

LoopAttachment::~LoopAttachment() {
  if (!device_.empty() && std::system(("losetup -d " + device_).c_str()) != 0)
    ADD_FAILURE() << "could not detach " << device_;
}

void expect_err_ends_with(const Result& r, const std::string& err, bool try_help) {
  const std::string help = "Try `" + program_word() + " --help' for more information.\n";
  const std::string want = text(err + (try_help ? help : std::string()));
  ASSERT_GE(r.err.size(), want.size()) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - want.size()), want);
}

}  // namespace e2e

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string target = "posix";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::string value = arg.substr(arg.find('=') + 1);
    if (arg.starts_with("--binary=")) {
      e2e::options.binary = value;
    } else if (arg.starts_with("--target=")) {
      target = value;
    } else if (arg.starts_with("--launcher=")) {
      e2e::options.launcher = value;
    } else if (arg.starts_with("--preload=")) {
      e2e::options.preload = value;
    } else if (arg.starts_with("--peer=")) {
      e2e::options.peer_binary = value;
    } else if (arg.starts_with("--peer-launcher=")) {
      e2e::options.peer_launcher = value;
    } else if (arg.starts_with("--report-binary=")) {
      e2e::options.report_binary = value;
    } else if (arg.starts_with("--peer-report-binary=")) {
      e2e::options.peer_report_binary = value;
    } else if (arg.starts_with("--mpi-binary=")) {
      e2e::options.mpi_binary = value;
    } else if (arg.starts_with("--mpirun=")) {
      e2e::options.mpirun = value;
    } else {
      target.clear();  // refused below
    }
  }
  e2e::options.traits = target == "posix"   ? &e2e::posix_traits
                        : target == "win32" ? &e2e::win32_traits
                                            : nullptr;
  e2e::options.peer_traits =
      e2e::options.traits == &e2e::posix_traits ? &e2e::win32_traits : &e2e::posix_traits;
  if (!e2e::options.traits || (e2e::options.binary.empty() && !GTEST_FLAG_GET(list_tests))) {
    std::fprintf(stderr,
                 "usage: %s --binary=PATH [--target=posix|win32] [--launcher=PATH] "
                 "[--preload=PATH] [--peer=PATH [--peer-launcher=PATH]] [--report-binary=PATH] "
                 "[--peer-report-binary=PATH] [--mpi-binary=PATH --mpirun=PATH]\n",
                 argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);  // a program that stops reading its input must not end the harness
  return RUN_ALL_TESTS();
}
