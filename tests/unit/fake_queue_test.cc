// The in-memory queue the engine's tests drive: its scripted completion order, short and
// failed completions must be what the script says, or the engine tests prove nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fake_backend.h"
#include "platform/io_queue.h"

namespace kolvane {
namespace {

std::vector<std::uint64_t> tags_of(const std::vector<IoCompletion>& done) {
  std::vector<std::uint64_t> tags;
  for (const IoCompletion& c : done) tags.push_back(c.tag);
  return tags;
}

class FakeQueue : public testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    in_ = fake::add_file("in", fake::pattern(64));
    out_ = fake::add_file("out", std::vector<unsigned char>(64, 0xEE));
    std::fill(std::begin(buffer_), std::end(buffer_), 0);
  }
  // Queues four 16-byte reads of `in` (tags 10..13, I/Os 1..4), submits them and reaps as the
  // script says, one reap per call until nothing is pending.
  std::vector<IoCompletion> four_reads() {
    std::string error;
    auto q = open_io_queue({4, {{in_, IoDirection::read}}, {}}, error);
    EXPECT_NE(q, nullptr);
    for (std::uint64_t i = 0; i < 4; ++i) {
      EXPECT_TRUE(q->queue(IoDirection::read, in_, buffer_ + 16 * i, 16, 16 * i, 10 + i));
    }
    EXPECT_TRUE(q->submit());
    std::vector<IoCompletion> done;
    while (q->pending() != 0) EXPECT_TRUE(q->reap(done, true));
    return done;
  }
  FileHandle in_ = kNoFile, out_ = kNoFile;
  unsigned char buffer_[64] = {};
};

TEST_F(FakeQueue, CompletesInTheScriptedOrderWithTheScriptedResults) {
  // clang-format off
  const struct { std::vector<int> order; bool newest_first; std::map<int, std::uint64_t> cut;
                 std::map<int, std::uint32_t> fail; std::size_t limit;
                 std::vector<std::uint64_t> tags; std::vector<std::int64_t> results;
                 std::size_t reaps; } rows[] = {
      {{}, false, {}, {}, SIZE_MAX, {10, 11, 12, 13}, {16, 16, 16, 16}, 1},
      {{}, true, {}, {}, SIZE_MAX, {13, 12, 11, 10}, {16, 16, 16, 16}, 1},
      {{3, 1}, false, {}, {}, SIZE_MAX, {12, 10, 11, 13}, {16, 16, 16, 16}, 1},
      {{2}, false, {{2, 5}}, {{4, 28}}, 1, {11, 10, 12, 13}, {5, 16, 16, -1}, 4}};
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << "first tag " << r.tags[0] << ", limit " << r.limit);
    SetUp();
    fake::sys().queue.order = r.order;
    fake::sys().queue.newest_first = r.newest_first;
    fake::sys().queue.short_at = r.cut;
    fake::sys().queue.fail_at = r.fail;
    fake::sys().queue.reap_limit = r.limit;
    const std::vector<IoCompletion> done = four_reads();
    EXPECT_EQ(tags_of(done), r.tags);
    std::vector<std::int64_t> results;
    for (const IoCompletion& c : done) results.push_back(c.result);
    EXPECT_EQ(results, r.results);
    EXPECT_EQ(std::count(fake::sys().log.begin(), fake::sys().log.end(), "reap 1"),
              r.limit == 1 ? 4 : 0);
    EXPECT_EQ(fake::sys().log.back(), "close queue");
    EXPECT_EQ(fake::sys().destroyed_in_flight, 0);
    // Every byte moved is the file's, at the I/O's offset.
    for (const IoCompletion& c : done) {
      const std::size_t at = 16 * (c.tag - 10);
      for (std::int64_t i = 0; i < c.result; ++i) EXPECT_EQ(buffer_[at + i], at + i);
    }
  }
}

TEST_F(FakeQueue, AFailedCompletionCarriesItsCodeAndText) {
  fake::sys().queue.fail_at = {{2, 5}};
  fake::sys().queue.fail_text = "Input/output error\n";
  const std::vector<IoCompletion> done = four_reads();
  ASSERT_EQ(done.size(), 4u);
  EXPECT_EQ(done[1].tag, 11u);
  EXPECT_EQ(done[1].error, 5u);
  EXPECT_EQ(done[1].text, "Input/output error\n");
  EXPECT_EQ(done[0].text, "");
}

TEST_F(FakeQueue, WritesLandInCompletionOrderAndOverlapsShowIt) {
  std::string error;
  auto q = open_io_queue({2, {{out_, IoDirection::write}}, {}}, error);
  ASSERT_NE(q, nullptr);
  const unsigned char a[8] = {1, 1, 1, 1, 1, 1, 1, 1}, b[8] = {2, 2, 2, 2, 2, 2, 2, 2};
  fake::sys().queue.newest_first = true;
  // Two writes over the same range: the one completing last wins, as on a real device.
  ASSERT_TRUE(q->queue(IoDirection::write, out_, const_cast<unsigned char*>(a), 8, 60, 1));
  ASSERT_TRUE(q->queue(IoDirection::write, out_, const_cast<unsigned char*>(b), 8, 60, 2));
  EXPECT_FALSE(q->queue(IoDirection::write, out_, const_cast<unsigned char*>(b), 8, 0, 3));
  EXPECT_FALSE(q->queue(IoDirection::write, in_, const_cast<unsigned char*>(b), 8, 0, 3));
  ASSERT_TRUE(q->submit());
  std::vector<IoCompletion> done;
  ASSERT_TRUE(q->reap(done, true));
  EXPECT_EQ(tags_of(done), (std::vector<std::uint64_t>{2, 1}));
  const std::vector<unsigned char>& data = fake::file(out_).data;
  ASSERT_EQ(data.size(), 68u);
  EXPECT_EQ(data[59], 0xEE);
  EXPECT_EQ(data[60], 1);
  EXPECT_EQ(data[67], 1);
}

TEST_F(FakeQueue, CallerFaultsAreCounted) {
  std::string error;
  auto q = open_io_queue({2, {{in_, IoDirection::read}}, {}}, error);
  ASSERT_NE(q, nullptr);
  void* buffer = alloc_aligned(32);
  ASSERT_TRUE(q->queue(IoDirection::read, in_, static_cast<unsigned char*>(buffer) + 16, 16, 0, 1));
  ASSERT_TRUE(q->submit());
  free_aligned(buffer);  // while the read into it is in flight
  EXPECT_EQ(fake::sys().freed_in_flight, 1);
  q.reset();
  EXPECT_EQ(fake::sys().destroyed_in_flight, 1);

  fake::sys().queue.refuse = true;
  EXPECT_EQ(open_io_queue({2, {}, {}}, error), nullptr);
  EXPECT_EQ(error, "io_uring is not available: Operation not permitted\n");
}

}  // namespace
}  // namespace kolvane
