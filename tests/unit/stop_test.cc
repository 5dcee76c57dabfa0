// Requests from outside against the in-memory back end: a stop ends the copy at the end of the
// I/O in flight with every byte read written, a status request shows the counts and the copy
// goes on, a stop during the plan runs nothing; the whole run then ends by the request. And
// conv=fsync / conv=fdatasync at the end of the run.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/run_reports.h"
#include "engine/transfer.h"
#include "fake_backend.h"
#include "plan/plan.h"
#include "run_owners_calls.h"

namespace kolvane {
namespace {

using Totals = std::array<std::uint64_t, 4>;  // in full, in partial, out full, out partial

Totals totals(const RunOwners& st) {
  const RecordTotals& t = st.transfer.totals;
  return {t.r_full_total, t.r_partial_total, t.w_full_total, t.w_partial_total};
}

// ibs=512 obs=1k over 4096 input bytes, no count: a request arrives during the read or write
// numbered `at`.
TEST(StopTest, AStopEndsTheEntryWithEveryByteReadWritten) {
  enum Where {
    read_returns,
    read_interrupted,
    write,
    cut_write,
    status,
    status_interrupts,
    failed_read
  };
  const struct {
    const char* name;
    Where where;
    int at;
    bool zero_source;
    int status;
    Totals totals;
    std::size_t bytes;
    std::string err;
  } rows[] = {
      // The second read still brings its block: the full output block goes out.
      {"read", read_returns, 2, false, 0, {2, 0, 1, 0}, 1024, ""},
      // The second read is given up: the half block held is written as a partial one.
      {"interrupted read", read_interrupted, 2, false, 0, {1, 0, 0, 1}, 512, ""},
      {"interrupted first read", read_interrupted, 1, false, 0, {0, 0, 0, 0}, 0, ""},
      {"write", write, 2, false, 0, {4, 0, 2, 0}, 2048, ""},
      {"zero source write", write, 3, true, 0, {3, 0, 3, 0}, 1536, ""},
      // A write waiting on a reader is cut short after 300 bytes: they count as a partial
      // record, and what was read after them is not written (it would wait again).
      {"cut write", cut_write, 2, false, 0, {4, 0, 1, 1}, 1324, ""},
      {"cut zero source write", cut_write, 3, true, 0, {3, 0, 2, 1}, 1324, ""},
      // A status request shows the counts after the I/O it arrived in, once; the copy goes on.
      {"status", status, 2, false, 0, {8, 0, 4, 0}, 4096, "2+0 records in\n1+0 records out\n"},
      // A read cut short by a status request is made again once the counts are shown.
      {"status interrupts",
       status_interrupts,
       2,
       false,
       0,
       {8, 0, 4, 0},
       4096,
       "1+0 records in\n0+0 records out\n"},
      // Without a stop, a failed read is a failure.
      {"failed read", failed_read, 2, false, 3, {1, 0, 0, 0}, 0, "error reading 'in': "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fake::reset();
    RunOwners st;
    Settings s{.input_file = row.zero_source ? kZeroSource : "in", .output_file = "out"};
    s.input_blocksize = row.zero_source ? 512 : 512;
    s.output_blocksize = row.zero_source ? 512 : 1024;
    if (row.zero_source) {
      s.max_records = 8;
      st.context.shape.count_given = true;
    }
    const std::vector<unsigned char> input = fake::pattern(4096);
    if (!row.zero_source)
      st.files.input.reset(fake::add_file("in", input));
    st.files.output.reset(fake::add_file("out", {}));
    fake::File& in = fake::file(row.zero_source ? st.files.output.get() : st.files.input.get());
    fake::File& out = fake::file(st.files.output.get());
    switch (row.where) {
      case read_interrupted:
        in.request_interrupts_read = true;
        [[fallthrough]];
      case read_returns:
        in.stop_at_read = row.at;
        break;
      case write:
        out.stop_at_write = row.at;
        break;
      case cut_write:
        out.kind = FileKind::stream;
        out.stop_cuts_write = row.at;
        out.cut_after = 300;
        break;
      case status_interrupts:
        in.request_interrupts_read = true;
        [[fallthrough]];
      case status:
        in.status_at_read = row.at;
        break;
      case failed_read:
        in.fail_read_call = row.at;
        break;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_entry(st, s, PlanEntry{}, posix_profile), row.status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.err);
    EXPECT_EQ(totals(st), row.totals);
    const std::vector<unsigned char> expected =
        row.zero_source ? std::vector<unsigned char>(row.bytes)
                        : std::vector<unsigned char>(input.begin(),
                                                     input.begin() + static_cast<long>(row.bytes));
    EXPECT_EQ(out.data, expected);
    // Nothing is read after a stop.
    if (row.where == read_returns || row.where == read_interrupted) {
      EXPECT_EQ(in.reads, row.at);
    }
  }
}

// A stop requested during the plan's allocation or draw leaves no plan to run and draws no
// more offsets than it had.
TEST(StopTest, AStopDuringThePlanLeavesNothingToRun) {
  fake::reset();
  RunOwners st;
  Settings s{.input_file = "in", .output_file = "out"};
  s.input_blocksize = s.output_blocksize = 512;
  s.max_records = 1;
  s.num_iterations = 10;
  st.context.shape.count_given = st.context.shape.iterations_given = true;
  st.files.input.reset(fake::add_file("in", fake::pattern(65536)));
  ASSERT_EQ(calibrate_input(st, s, posix_profile), 0);
  simulate_request(StopRequest::interrupt, false);
  EXPECT_EQ(build_plan(st, s), 0);
  EXPECT_EQ(st.plan.size, 0u);
  EXPECT_EQ(st.plan.entries, nullptr);
}

int run_words(std::vector<std::string> words) {
  words.insert(words.begin(), "kolvane");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  return run_program(static_cast<int>(argv.size()), argv.data());
}

// The whole run: a stop ends it after the records lines and the elapsed time, as killed by
// the signal; the handlers were installed at start-up.
TEST(StopDeathTest, AStoppedRunReportsThenEndsByTheRequest) {
  const struct {
    bool terminate;
    int code;
  } rows[] = {{false, 130}, {true, 143}};
  for (const auto& row : rows) {
    fake::reset();
    fake::add_file("in", fake::pattern(4096));
    fake::add_file("out", {});
    if (row.terminate) {
      fake::file(4).stop_at_write = 2;
    } else {
      fake::file(3).stop_at_read = 2;
    }
    EXPECT_EXIT(
        {
          run_words({"if=in", "of=out"});
          std::_Exit(fake::sys().installs == 1 ? 0 : 1);
        },
        testing::ExitedWithCode(row.code), "^2\\+0 records in\n2\\+0 records out\n$");
  }
}

// An open given up for a stop ends the run by the request, having copied nothing.
TEST(StopDeathTest, AStopWhileOpeningEndsWithNothingCopied) {
  for (const char* missing : {"in", "out"}) {
    fake::reset();
    fake::add_file(std::string("in") == missing ? "other" : "in", fake::pattern(4096));
    simulate_request(StopRequest::interrupt, false);
    EXPECT_EXIT(run_words({"if=in", "of=out", "count=1", "iterations=2"}),
                testing::ExitedWithCode(130), "^0\\+0 records in\n0\\+0 records out\n$");
  }
}

// A stop request that arrives while a document is written is never lost: the program ends by
// it, whether the document's open or write waited on a FIFO's reader or the write went through.
TEST(StopDeathTest, AStopWhileADocumentIsWrittenEndsTheRun) {
  using Stop = fake::System::DocumentStop;
  const struct {
    Stop stop;
    bool in_place;
    int code;
  } rows[] = {{Stop::at_open, true, 130},
              {Stop::cutting_write, true, 130},
              {Stop::during_write, false, 143}};
  for (const auto& row : rows) {
    fake::reset();
    fake::add_file("in", fake::pattern(4096));
    fake::add_file("out", {});
    fake::sys().documents_in_place = row.in_place;
    fake::sys().stop_on_document = "j";
    fake::sys().document_stop = row.stop;
    EXPECT_EXIT(run_words({"if=in", "of=out", "json=j"}), testing::ExitedWithCode(row.code),
                "^8\\+0 records in\n8\\+0 records out\n$");
  }
}

// A document that replaces a file is made again when a stop came while it was written, so that
// it tells the status the program ends with; nothing of the first one is left behind.
TEST(StopTest, ADocumentTellsOfAStopThatCameWhileItWasWritten) {
  for (const bool in_place : {false, true}) {
    SCOPED_TRACE(in_place ? "in place" : "replacing");
    fake::reset();
    fake::sys().documents_in_place = in_place;
    fake::sys().stop_on_document = "j";
    fake::sys().document_stop = fake::System::DocumentStop::during_write;
    RunOwners st;
    Settings s{.input_file = "in", .output_file = "out"};
    s.json_file = "j";
    EXPECT_EQ(write_reports(st.context, st.transfer.totals, st.workers, s, RunStart{}, 0, ""), 0);
    ASSERT_EQ(fake::sys().files.size(), 1u);
    const fake::File& j = fake::sys().files.begin()->second;
    EXPECT_EQ(j.name, "j");
    const auto doc = nlohmann::json::parse(j.data);
    // In place the first document is what the reader got: it cannot be made again.
    EXPECT_EQ(doc["exit_status"], in_place ? 0 : 143);
  }
}

// conv=fsync and conv=fdatasync sync a file or device before it is closed, never a stream;
// a failed sync fails the run without its records lines.
TEST(StopTest, TheOutputIsSyncedBeforeItIsClosed) {
  const struct {
    const char* conv;
    FileKind kind;
    bool fails;
    int status;
    std::string calls, err;
  } rows[] = {
      {"conv=fsync", FileKind::regular, false, 0, "fsync 4; close 4",
       "1+0 records in\n1+0 records out\n"},
      {"conv=fdatasync", FileKind::device, false, 0, "fdatasync 4; close 4",
       "1+0 records in\n1+0 records out\n"},
      {"conv=fdatasync,fsync", FileKind::regular, false, 0, "fsync 4; close 4",
       "1+0 records in\n1+0 records out\n"},
      {"conv=fsync", FileKind::stream, false, 0, "close 4", "1+0 records in\n1+0 records out\n"},
      {"conv=notrunc", FileKind::regular, false, 0, "close 4", "1+0 records in\n1+0 records out\n"},
      {"conv=fsync", FileKind::regular, true, 3, "fsync 4; close 4", "error syncing 'out': "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.conv);
    fake::reset();
    fake::add_file("in", fake::pattern(512));
    fake::add_file("out", {});
    fake::file(4).kind = row.kind;
    fake::file(4).sync_fails = row.fails;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_words({"if=in", "of=out", row.conv}), row.status);
    const std::string err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(err, row.err);
    std::string calls;
    for (const std::string& line : fake::sys().log) {
      if (line.find(" 4") != std::string::npos &&
          (line.rfind("close", 0) == 0 || line.find("sync") != std::string::npos))
        calls += (calls.empty() ? "" : "; ") + line;
    }
    EXPECT_EQ(calls, row.calls);
  }
}

}  // namespace
}  // namespace kolvane
