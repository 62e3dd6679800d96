#pragma once
// The line page's server: fed the objects of the `--json` stream as the stations make them, it
// serves the page, the stations, the event stream, the boxes and the metrics over HTTP. Feeding it
// never waits for a client: a line goes into a queue, and the server's own thread digests it.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http/event_fanout.h"
#include "http/guarded_server.h"
#include "http/host_check.h"
#include "http/line_state.h"

namespace vn::http {

// What /api/v1/boxes asks: records that ended at or after `since` (ISO 8601 UTC, empty: all),
// at most `limit` of them, oldest first.
struct BoxesQuery {
  std::string since;  // empty, or as the records write a time: "2026-12-08T09:00:00.000Z"
  int limit = 100;
};
inline constexpr int kBoxesLimitMax = 1000;

// Answers a query with a JSON array of records; false with `problem` when it cannot.
using BoxesSource =
    std::function<bool(const BoxesQuery& query, nlohmann::json& records, std::string& problem)>;

struct ListenAddress {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
};

// "[ADDR:]PORT" ("8080", "0.0.0.0:8080", "[::1]:8080"; port 0: any free one); nullopt with
// `problem` when it is not one.
std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& problem);

struct ServerOptions {
  ListenAddress address;
  // Names the page may be asked by besides its address and localhost (--http-host): the names
  // the station PC has on the factory's network.
  std::vector<std::string> hostNames;
  ServerLimits limits;
  size_t clientQueueLimit = kClientQueueLimit;
  // Without one, the records come from what the stream brought.
  BoxesSource boxes;
};

class LineServer {
 public:
  // Binds the address and starts serving; null with `problem` (the address and the system's
  // words) when the address cannot be had.
  static std::unique_ptr<LineServer> Start(RunDescription run, ServerOptions options,
                                           std::string& problem);
  ~LineServer();
  LineServer(const LineServer&) = delete;
  LineServer& operator=(const LineServer&) = delete;

  // One object of the stream, as one line of JSON. Never blocks on a client.
  void Feed(std::string line);
  // Waits until everything fed so far is digested.
  void Flush();
  // The page's address, "http://127.0.0.1:8080/"; on every address of the PC, with the PC's name
  // ("http://station-pc-1:8080/"), as a browser elsewhere asks for it.
  std::string Url() const;
  int Port() const { return port_; }
  // Bound to every address of the PC (0.0.0.0 or [::]): other machines can read the page.
  bool OpenToNetwork() const { return openToNetwork_; }
  void Stop();

  // For the tests and the benchmark.
  size_t EventClients() const { return fanout_.ClientCount(); }
  int Connections() const { return server_.ActiveConnections(); }
  uint64_t DroppedLines() const;

 private:
  LineServer(RunDescription run, ServerOptions options);
  void Route(const httplib::Request& request, httplib::Response& response);
  void ServeEvents(httplib::Response& response);
  void ServeBoxes(const httplib::Request& request, httplib::Response& response);
  void Digest();
  std::vector<std::string> CurrentMessages();

  ServerOptions options_;
  GuardedServer server_;
  int port_ = 0;
  bool openToNetwork_ = false;
  std::string ownName_;  // in the page's address: as given, or the PC's name on every address
  HostCheck hosts_;
  std::thread listener_;
  std::atomic<bool> listenerEnded_{false};
  std::thread digester_;

  mutable std::mutex stateMutex_;
  LineState state_;
  EventFanout fanout_;

  mutable std::mutex feedMutex_;
  std::condition_variable fed_;
  std::condition_variable digested_;
  std::deque<std::string> feed_;
  uint64_t fedCount_ = 0;
  uint64_t digestedCount_ = 0;
  uint64_t droppedLines_ = 0;
  bool stopping_ = false;
  int flushing_ = 0;  // a Flush waits: digest without pausing
};

}  // namespace vn::http
