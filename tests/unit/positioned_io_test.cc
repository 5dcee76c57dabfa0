// The positioned reads and writes on real files, through the platform's own calls (pread and
// pwrite, or ReadFile and WriteFile given an OVERLAPPED offset): a sparse file written on both
// sides of 4 GiB, read back at the same offsets, its end, and a failure's text.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace kolvane {

// The system's text for a read of a file opened for writing only, or a write of one opened for
// reading only, as last_error_text() gives it; defined by each platform's back end test.
std::string wrong_access_text();

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

class PositionedIo : public testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> made{0};
    dir_ = fs::temp_directory_path() /
           ("kolvane-positioned-" + std::to_string(process_id()) + "-" + std::to_string(++made));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(PositionedIo, BlocksLandAndComeBackAtTheirOffsets) {
  const std::string name = path("sparse");
  bool preexists = false;
  const FileHandle out =
      open_output(name.c_str(), false, false, preexists, OutputAccess::read_write);
  ASSERT_NE(out, kNoFile) << last_error_text();
  const struct {
    std::uint64_t at;
    std::string bytes;
  } blocks[] = {{k4GiB + 4096, "far past 4 GiB"}, {0, "head"}, {k4GiB - 3, "across"}};
  for (const auto& b : blocks)
    ASSERT_TRUE(write_block_at(out, b.bytes.data(), b.bytes.size(), b.at, false)) << b.at;
  const std::uint64_t end = k4GiB + 4096 + 14;
  std::int64_t size = 0;
  ASSERT_TRUE(file_size(out, size));
  EXPECT_EQ(static_cast<std::uint64_t>(size), end);

  const FileHandle in = open_input(name.c_str(), false);
  ASSERT_NE(in, kNoFile) << last_error_text();
  // clang-format off
  const struct { std::uint64_t at, n; std::string got; } reads[] = {
      {0, 4, "head"}, {2, 2, "ad"}, {k4GiB - 3, 6, "across"}, {k4GiB + 4096, 14, "far past 4 GiB"},
      {k4GiB + 4096 + 4, 100, "past 4 GiB"},   // short at the end of the file
      {end, 16, ""}, {end + 4096, 16, ""},    // at and past the end: nothing, and no failure
      {4, 3, std::string(3, '\0')}};           // the hole reads as zeros
  // clang-format on
  for (const FileHandle file : {in, out}) {
    for (const auto& r : reads) {
      SCOPED_TRACE(testing::Message() << "at " << r.at << (file == in ? " input" : " output"));
      std::string buffer(r.n, '?');
      const std::int64_t got = read_block_at(file, buffer.data(), r.n, r.at);
      ASSERT_EQ(got, static_cast<std::int64_t>(r.got.size())) << last_error_text();
      EXPECT_EQ(buffer.substr(0, r.got.size()), r.got);
    }
  }
  EXPECT_TRUE(close_file(in));
  EXPECT_TRUE(close_file(out));
}

// A positioned call that fails says why, in the system's own words, as the plain calls do.
TEST_F(PositionedIo, AFailureKeepsTheSystemText) {
  const std::string name = path("write-only");
  bool preexists = false;
  const FileHandle out = open_output(name.c_str(), false, false, preexists);
  ASSERT_NE(out, kNoFile) << last_error_text();
  ASSERT_TRUE(write_block_at(out, "data", 4, k4GiB, false));
  char buffer[16];
  EXPECT_EQ(read_block_at(out, buffer, sizeof buffer, 0), -1);
  EXPECT_EQ(last_error_text(), wrong_access_text());
  EXPECT_TRUE(close_file(out));
  const FileHandle in = open_input(name.c_str(), false);
  ASSERT_NE(in, kNoFile);
  EXPECT_FALSE(write_block_at(in, "data", 4, 0, false));
  EXPECT_EQ(last_error_text(), wrong_access_text());
  EXPECT_TRUE(close_file(in));
}

}  // namespace
}  // namespace kolvane
