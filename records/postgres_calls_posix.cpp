// The calls to a PostgreSQL server, on the socket libpq gives, which poll() waits on: POSIX only,
// as are records in a database for now.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "platform/console.h"
#include "records/postgres_calls.h"
#include "records/sql_failure.h"

namespace vn {
namespace {

using Clock = std::chrono::steady_clock;

// The end of one wait for the server: its silence ran out, or the grace after a stop request.
class CallClock {
 public:
  CallClock(std::chrono::milliseconds quiet, const std::atomic<bool>* stop,
            std::optional<Clock::time_point>& stopSeen)
      : quiet_(quiet), stop_(stop), stopSeen_(stopSeen) {
    Heard();
  }

  // The server said something: its silence starts anew.
  void Heard() { quietEnd_ = Clock::now() + quiet_; }

  // Until `fd` can be read (or written): false when the time ran out first.
  bool Wait(int fd, bool forWrite) {
    for (;;) {
      const Clock::time_point now = Clock::now();
      if (stop_ && stop_->load() && !stopSeen_) stopSeen_ = now;
      const Clock::time_point end =
          stopSeen_ ? std::min(quietEnd_, *stopSeen_ + kStopGrace) : quietEnd_;
      if (now >= end) return false;
      // Short slices, so that a stop request is seen soon.
      const auto slice = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::min<Clock::duration>(end - now, std::chrono::milliseconds(100)));
      pollfd socket{fd, short(forWrite ? POLLOUT : POLLIN), 0};
      const int ready = ::poll(&socket, 1, std::max(1, int(slice.count())));
      // An error on the socket is libpq's to find and word.
      if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
    }
  }

 private:
  std::chrono::milliseconds quiet_;
  const std::atomic<bool>* stop_;
  std::optional<Clock::time_point>& stopSeen_;
  Clock::time_point quietEnd_;
};

// libpq 15's PQcancel waits until the server closes the cancel's own connection, which a frozen
// server never does: it goes out from a thread of its own that nobody waits for, two at most.
void CancelInTheBackground(PGconn* connection) {
  static std::atomic<int> pending{0};
  if (pending.load() >= 2) return;
  PGcancel* cancel = PQgetCancel(connection);
  if (!cancel) return;
  ++pending;
  std::thread([cancel] {
    KeepStopRequestsOffThisThread();
    char words[256];
    PQcancel(cancel, words, sizeof words);
    PQfreeCancel(cancel);
    --pending;
  }).detach();
}

Failure ResultFailure(PGconn* connection, const PGresult* result, const RecordTarget& target) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const char* words = result ? PQresultErrorMessage(result) : "";
  if (!words || !*words) words = PQerrorMessage(connection);
  return PostgresFailure(words, state ? state : "", target);
}

}  // namespace

PostgresConnection::PostgresConnection(RecordTarget target, ServerWait wait)
    : target_(std::move(target)), wait_(wait) {}

PostgresConnection::~PostgresConnection() {
  Close();
}

void PostgresConnection::Close() {
  PQfinish(connection_);
  connection_ = nullptr;
}

Failure PostgresConnection::Silence(std::chrono::milliseconds wait) const {
  if (stopSeen_) {
    return FailureSaying(FailureKind::kStopped, "a stop request ended the wait for the server",
                         target_.shown);
  }
  char words[80];
  std::snprintf(words, sizeof words, "the server did not answer within %g s",
                double(wait.count()) / 1000.0);
  return FailureSaying(FailureKind::kOther, words, target_.shown);
}

Failure PostgresConnection::Abandon(std::chrono::milliseconds wait) {
  CancelInTheBackground(connection_);
  Close();
  return Silence(wait);
}

Failure PostgresConnection::Open() {
  Close();
  // A connection over TCP that the network dropped is found out by the system too. The URL's own
  // settings come last, so that they override ours.
  const std::string userTimeout = std::to_string(wait_.answer.count());
  const char* keys[] = {
      "application_name", "keepalives",       "keepalives_idle", "keepalives_interval",
      "keepalives_count", "tcp_user_timeout", "dbname",          nullptr};
  const char* values[] = {"vespanode-cli",          "1",    "10", "5", "3", userTimeout.c_str(),
                          target_.location.c_str(), nullptr};
  connection_ = PQconnectStartParams(keys, values, 1);
  if (!connection_) return PostgresFailure("out of memory", "", target_);
  CallClock clock(wait_.connect, wait_.stop, stopSeen_);
  PostgresPollingStatusType status = PGRES_POLLING_WRITING;
  while (PQstatus(connection_) != CONNECTION_BAD && status != PGRES_POLLING_OK &&
         status != PGRES_POLLING_FAILED) {
    if (!clock.Wait(PQsocket(connection_), status == PGRES_POLLING_WRITING)) {
      Close();
      return Silence(wait_.connect);
    }
    status = PQconnectPoll(connection_);
  }
  if (PQstatus(connection_) != CONNECTION_OK) {
    const std::string words = PQerrorMessage(connection_);
    Close();
    // A refused login has SQLSTATE 28P01, but libpq keeps it from a failed connection's message.
    const bool login = words.find("authentication failed") != std::string::npos ||
                       words.find("password") != std::string::npos;
    return PostgresFailure(words, login ? "28P01" : "", target_);
  }
  // The server's notices ("relation boxes already exists, skipping") are for a person at psql.
  PQsetNoticeProcessor(
      connection_, [](void*, const char*) {}, nullptr);
  PQsetnonblocking(connection_, 1);
  return {};
}

Failure PostgresConnection::Run(const std::string& sql, const std::vector<const char*>& params,
                                const Rows& rows, bool rowByRow) {
  if (!connection_) return FailureSaying(FailureKind::kOther, "not connected", target_.shown);
  const bool sent = params.empty() && !rowByRow
                        ? PQsendQuery(connection_, sql.c_str())
                        : PQsendQueryParams(connection_, sql.c_str(), int(params.size()), nullptr,
                                            params.data(), nullptr, nullptr, 0);
  if (!sent || (rowByRow && !PQsetSingleRowMode(connection_))) {
    const Failure failure = ResultFailure(connection_, nullptr, target_);
    Close();
    return failure;
  }
  CallClock clock(wait_.answer, wait_.stop, stopSeen_);
  Failure failure;
  for (int left = PQflush(connection_); left != 0; left = PQflush(connection_)) {
    if (left < 0) {
      failure = ResultFailure(connection_, nullptr, target_);
      Close();
      return failure;
    }
    if (!clock.Wait(PQsocket(connection_), true)) return Abandon(wait_.answer);
  }
  for (;;) {
    while (PQisBusy(connection_)) {
      if (!clock.Wait(PQsocket(connection_), false)) return Abandon(wait_.answer);
      if (!PQconsumeInput(connection_)) {
        failure = ResultFailure(connection_, nullptr, target_);
        Close();
        return failure;
      }
      clock.Heard();
    }
    PGresult* result = PQgetResult(connection_);
    if (!result) break;
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_TUPLES_OK || status == PGRES_SINGLE_TUPLE) {
      for (int row = 0; rows && row < PQntuples(result); ++row) rows(result, row);
    } else if (status != PGRES_COMMAND_OK && !failure.Failed()) {
      failure = ResultFailure(connection_, result, target_);
    }
    PQclear(result);
  }
  if (PQstatus(connection_) != CONNECTION_OK) Close();
  return failure;
}

}  // namespace vn
