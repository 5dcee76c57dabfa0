#include "app/kolvane-mpi/mpi_peers.h"

#include <algorithm>
#include <chrono>

namespace kolvane {
namespace {

constexpr int kNoteTag = 26;
constexpr std::int32_t kEnded = 1;
constexpr std::int32_t kStatus = 2;
// How often the watching thread looks for notes: a rank's failure stops the others within it.
constexpr auto kPoll = std::chrono::milliseconds(1);
// How long rank 0 waits for the other ranks' records after a status request: each answers at
// its next I/O, and a rank whose request was lost (two signals close together) is not waited on
// forever.
constexpr auto kStatusWait = std::chrono::milliseconds(500);

MPI_Comm world() {
  return MPI_COMM_WORLD;
}

MpiPeers::Note note_of(std::int32_t kind, bool failed, std::uint64_t round, const RecordTotals& t) {
  MpiPeers::Note n;
  n.kind = kind;
  n.failed = failed ? 1 : 0;
  n.round = round;
  n.records[0] = t.r_full_total;
  n.records[1] = t.r_partial_total;
  n.records[2] = t.w_full_total;
  n.records[3] = t.w_partial_total;
  return n;
}

RecordTotals totals_of(const MpiPeers::Note& n) {
  RecordTotals t;
  t.r_full_total = n.records[0];
  t.r_partial_total = n.records[1];
  t.w_full_total = n.records[2];
  t.w_partial_total = n.records[3];
  return t;
}

}  // namespace

MpiPeers::~MpiPeers() {
  if (watcher_.joinable())
    watcher_.join();
}

int MpiPeers::meet(int own_status) {
  std::vector<int> statuses(part_.ranks, 0);
  MPI_Allgather(&own_status, 1, MPI_INT, statuses.data(), 1, MPI_INT, world());
  for (const int status : statuses) {
    if (status != 0)
      return status;
  }
  // Every rank is ready: the first I/O of each follows the barrier at once.
  MPI_Barrier(world());
  return 0;
}

void MpiPeers::watch() {
  watcher_ = std::thread([this] { watch_loop(); });
}

void MpiPeers::take(const Note& note, int source) {
  Other& other = others_[static_cast<std::size_t>(source)];
  if (note.kind == kEnded) {
    other.ended = true;
    if (note.failed != 0)
      halted_.store(true, std::memory_order_relaxed);
  }
  other.round = std::max(other.round, note.round);
  other.totals = totals_of(note);
  changed_.notify_all();
}

void MpiPeers::watch_loop() {
  const int peers = static_cast<int>(part_.ranks) - 1;
  int ended_peers = 0;
  Note incoming;
  MPI_Request receiving = MPI_REQUEST_NULL;
  // Sent notes stay where they are until their sends complete.
  std::deque<Note> outgoing;
  std::vector<MPI_Request> sends;
  bool end_sent = false;
  const auto send = [&](const Note& note, int to) {
    outgoing.push_back(note);
    sends.emplace_back();
    MPI_Isend(&outgoing.back(), sizeof(Note), MPI_BYTE, to, kNoteTag, world(), &sends.back());
  };
  for (;;) {
    // Every rank sends its notes in order and its end note last: once each has sent its end,
    // no note is left to receive.
    if (receiving == MPI_REQUEST_NULL && ended_peers < peers)
      MPI_Irecv(&incoming, sizeof(Note), MPI_BYTE, MPI_ANY_SOURCE, kNoteTag, world(), &receiving);
    int arrived = 0;
    MPI_Status status;
    if (receiving != MPI_REQUEST_NULL)
      MPI_Test(&receiving, &arrived, &status);
    std::unique_lock<std::mutex> lock(mutex_);
    if (arrived != 0) {
      if (incoming.kind == kEnded)
        ++ended_peers;
      take(incoming, status.MPI_SOURCE);
      continue;
    }
    if (own_status_) {
      send(*own_status_, 0);
      own_status_.reset();
    }
    if (own_end_ && !end_sent) {
      for (int r = 0; r <= peers; ++r) {
        if (r != static_cast<int>(part_.rank))
          send(*own_end_, r);
      }
      end_sent = true;
    }
    if (end_sent && ended_peers == peers)
      break;
    changed_.wait_for(lock, kPoll);
  }
  MPI_Waitall(static_cast<int>(sends.size()), sends.data(), MPI_STATUSES_IGNORE);
}

void MpiPeers::ended(bool failed, const RecordTotals& totals) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    own_end_ = note_of(kEnded, failed, rounds_, totals);
  }
  changed_.notify_all();
  if (watcher_.joinable())
    watcher_.join();
}

bool MpiPeers::whole_so_far(RecordTotals& totals) {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::uint64_t round = ++rounds_;
  if (part_.rank != 0) {
    own_status_ = note_of(kStatus, false, round, totals);
    changed_.notify_all();
    return false;
  }
  changed_.wait_for(lock, kStatusWait, [&] {
    return std::all_of(others_.begin() + 1, others_.end(),
                       [&](const Other& o) { return o.ended || o.round >= round; });
  });
  for (auto o = others_.begin() + 1; o != others_.end(); ++o) totals.add(o->totals);
  return true;
}

std::vector<RankEnd> MpiPeers::ends(const RankEnd& own) {
  std::vector<RankEnd> all(part_.ranks);
  MPI_Allgather(&own, sizeof(RankEnd), MPI_BYTE, all.data(), sizeof(RankEnd), MPI_BYTE, world());
  return all;
}

std::uint64_t MpiPeers::longest(std::uint64_t own) {
  std::uint64_t most = 0;
  MPI_Allreduce(&own, &most, 1, MPI_UINT64_T, MPI_MAX, world());
  return most;
}

std::vector<std::string> MpiPeers::gather(const std::string& document) {
  const int size = static_cast<int>(document.size());
  std::vector<int> sizes(part_.rank == 0 ? part_.ranks : 0);
  MPI_Gather(&size, 1, MPI_INT, sizes.data(), 1, MPI_INT, 0, world());
  std::vector<int> offsets(sizes.size(), 0);
  for (std::size_t r = 1; r < sizes.size(); ++r) offsets[r] = offsets[r - 1] + sizes[r - 1];
  std::string all(sizes.empty() ? 0 : static_cast<std::size_t>(offsets.back() + sizes.back()),
                  '\0');
  MPI_Gatherv(document.data(), size, MPI_CHAR, all.data(), sizes.data(), offsets.data(), MPI_CHAR,
              0, world());
  std::vector<std::string> documents;
  for (std::size_t r = 0; r < sizes.size(); ++r)
    documents.push_back(
        all.substr(static_cast<std::size_t>(offsets[r]), static_cast<std::size_t>(sizes[r])));
  return documents;
}

}  // namespace kolvane
