#pragma once
// Every call to a PostgreSQL server, with a deadline of the client's own. A server that froze, or
// a network that drops its packets, never answers, nor sends the end its own statement_timeout
// would: a call that waited on the server alone would wait for ever, and whatever waits behind it
// with it. libpq is used asynchronously: its socket is waited on for so long at most, and a stop
// request shortens the wait.
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "records/record_target.h"

struct pg_conn;
struct pg_result;

namespace vn {

// How long a server may leave the connecting, or a statement, without a word.
inline constexpr std::chrono::seconds kServerAnswerWait{10};
// A reading the server groups or sorts first may be quiet for longer before its first row.
inline constexpr std::chrono::seconds kServerReadingWait{60};
// How long calls may still wait once a stop has been requested, all together.
inline constexpr std::chrono::milliseconds kStopGrace{1000};

struct ServerWait {
  std::chrono::milliseconds connect = kServerAnswerWait;
  std::chrono::milliseconds answer = kServerAnswerWait;
  const std::atomic<bool>* stop = nullptr;
};

class PostgresConnection {
 public:
  PostgresConnection(RecordTarget target, ServerWait wait);
  ~PostgresConnection();
  PostgresConnection(const PostgresConnection&) = delete;
  PostgresConnection& operator=(const PostgresConnection&) = delete;

  // Reaches the server anew: libpq's own words (without the URL's secrets) when it cannot, ours
  // when it does not answer in time.
  Failure Open();
  bool IsOpen() const { return connection_ != nullptr; }
  void Close();

  // Each row of an answer: its result and its number there.
  using Rows = std::function<void(const pg_result* result, int row)>;
  // Sends `sql` (several statements when it has no `params`) and hands every row of the answer to
  // `rows`: with `rowByRow`, one result per row, so that a large answer is never held whole. The
  // server's refusal is the failure. A statement left unanswered is cancelled and the connection
  // closed, as is a broken one: the next call must Open again.
  Failure Run(const std::string& sql, const std::vector<const char*>& params = {},
              const Rows& rows = {}, bool rowByRow = false);

 private:
  // The call left unanswered for `wait`: cancelled, and the connection closed.
  Failure Abandon(std::chrono::milliseconds wait);
  Failure Silence(std::chrono::milliseconds wait) const;

  RecordTarget target_;
  ServerWait wait_;
  pg_conn* connection_ = nullptr;
  // When a stop request was first seen: the grace counts from there, for every call.
  std::optional<std::chrono::steady_clock::time_point> stopSeen_;
};

}  // namespace vn
