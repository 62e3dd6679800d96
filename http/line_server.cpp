#include "http/line_server.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "http/metrics_text.h"
#include "http/page_assets.h"
#include "platform/console.h"
#include "platform/host_name.h"
#include "records/record_time.h"

namespace vn::http {
namespace {

using Json = nlohmann::json;

std::string Dump(const nlohmann::ordered_json& object) {
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void Reply(httplib::Response& response, int status, const std::string& body,
           const char* contentType) {
  response.status = status;
  response.set_content(body, contentType);
}

void ReplyJson(httplib::Response& response, const std::string& body) {
  Reply(response, 200, body, "application/json");
}

void ReplyProblem(httplib::Response& response, int status, const std::string& problem) {
  Reply(response, status, Dump({{"error", problem}}) + "\n", "application/json");
}

// Only the address asked for, never shared with another program's socket: a port in use must be
// refused, not split between two runs.
void ExclusiveAddress(socket_t sock) {
  const int yes = 1;
  ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

bool ParseLimit(const std::string& text, int& limit) {
  if (text.empty() || text.size() > 4) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  limit = std::stoi(text);
  return limit >= 1 && limit <= kBoxesLimitMax;
}

// An address as a URL or a Host names it: an IPv6 one in brackets.
std::string AsUrlHost(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

constexpr const char* kSecurityHeaders[][2] = {
    {"Content-Security-Policy", "default-src 'self'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

}  // namespace

std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& problem) {
  ListenAddress address;
  std::string port = text;
  if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    address.host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']') {
      address.host = address.host.substr(1, address.host.size() - 2);
    }
    if (address.host.empty()) {
      problem = "no address before the colon in " + text;
      return std::nullopt;
    }
  }
  int number = 0;
  bool digits = !port.empty() && port.size() <= 5;
  for (const char c : port) digits = digits && c >= '0' && c <= '9';
  if (digits) number = std::stoi(port);
  if (!digits || number > 65535) {
    problem = "the port in " + text + " is not a number from 0 to 65535";
    return std::nullopt;
  }
  address.port = number;
  return address;
}

LineServer::LineServer(RunDescription run, ServerOptions options)
    : options_(std::move(options)),
      server_(options_.limits),
      state_(std::move(run)),
      fanout_(options_.clientQueueLimit) {}

std::unique_ptr<LineServer> LineServer::Start(RunDescription run, ServerOptions options,
                                              std::string& problem) {
  std::unique_ptr<LineServer> server(new LineServer(std::move(run), std::move(options)));
  GuardedServer& http = server->server_;
  httplib::Headers headers;
  for (const auto& [name, value] : kSecurityHeaders) headers.emplace(name, value);
  http.SetDefaultHeaders(headers);
  http.set_socket_options(ExclusiveAddress);
  LineServer* self = server.get();
  http.set_pre_routing_handler(
      [self](const httplib::Request& request, httplib::Response& response) {
        self->Route(request, response);
        return httplib::Server::HandlerResponse::Handled;
      });
  const ListenAddress& address = server->options_.address;
  errno = 0;
  if (address.port == 0) {
    server->port_ = http.bind_to_any_port(address.host);
  } else if (http.bind_to_port(address.host, address.port)) {
    server->port_ = address.port;
  }
  if (server->port_ <= 0) {
    const int error = errno;
    problem = "cannot serve the line page on " + address.host + ":" + std::to_string(address.port) +
              ": " + (error != 0 ? std::strerror(error) : "the address cannot be had");
    return nullptr;
  }
  server->openToNetwork_ = http.BoundToEveryAddress();
  // Its own address as given, or on every address the PC's name (each address a client asks
  // for by number is accepted as the connection's own).
  server->ownName_ = server->openToNetwork_ ? HostName() : AsUrlHost(address.host);
  std::vector<std::string> names = server->options_.hostNames;
  names.push_back("localhost");
  names.push_back(server->ownName_);
  server->hosts_ = HostCheck(names, server->port_);
  // A stop request must reach the program's own handler, not end it on one of these threads
  // (or on the connection workers, which the listener starts and which inherit its mask).
  server->digester_ = std::thread([self] {
    KeepStopRequestsOffThisThread();
    self->Digest();
  });
  server->listener_ = std::thread([self] {
    KeepStopRequestsOffThisThread();
    self->server_.listen_after_bind();
    self->listenerEnded_ = true;
  });
  // The server's stop does nothing until its listener has begun: had a stop come first, the
  // listener would then serve for ever and the stop's join never return.
  while (!http.is_running() && !server->listenerEnded_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return server;
}

LineServer::~LineServer() {
  Stop();
}

void LineServer::Stop() {
  if (listener_.joinable()) {
    server_.stop();
    fanout_.CloseAll();
    listener_.join();
  }
  if (digester_.joinable()) {
    {
      const std::lock_guard lock(feedMutex_);
      stopping_ = true;
    }
    fed_.notify_all();
    digester_.join();
  }
}

std::string LineServer::Url() const {
  return "http://" + ownName_ + ":" + std::to_string(port_) + "/";
}

// A line queue far longer than any burst the stations make; past it a line is dropped rather
// than a station held up.
constexpr size_t kFeedLimit = 100000;

void LineServer::Feed(std::string line) {
  {
    const std::lock_guard lock(feedMutex_);
    ++fedCount_;
    if (feed_.size() >= kFeedLimit || stopping_) {
      ++droppedLines_;
      ++digestedCount_;
      return;
    }
    feed_.push_back(std::move(line));
  }
  fed_.notify_one();
}

void LineServer::Flush() {
  std::unique_lock lock(feedMutex_);
  const uint64_t target = fedCount_;
  ++flushing_;
  fed_.notify_all();
  digested_.wait(lock, [&] { return digestedCount_ >= target || !digester_.joinable(); });
  --flushing_;
}

uint64_t LineServer::DroppedLines() const {
  const std::lock_guard lock(feedMutex_);
  return droppedLines_;
}

// The digest runs at most this often: what came meanwhile is taken as one batch, and each
// station that changed is sent once for it. A screen needs no more; the server stays cheap.
constexpr auto kDigestInterval = std::chrono::milliseconds(100);

void LineServer::Digest() {
  for (auto last = std::chrono::steady_clock::now() - kDigestInterval;;) {
    std::deque<std::string> batch;
    {
      std::unique_lock lock(feedMutex_);
      fed_.wait(lock, [this] { return stopping_ || !feed_.empty(); });
      fed_.wait_until(lock, last + kDigestInterval, [this] { return stopping_ || flushing_; });
      if (feed_.empty()) break;
      batch.swap(feed_);
      last = std::chrono::steady_clock::now();
    }
    {
      const std::lock_guard lock(stateMutex_);
      std::vector<std::string> messages;
      messages.reserve(batch.size() + state_.Stations().size() + 1);
      for (const std::string& line : batch) {
        const Json object = Json::parse(line, nullptr, false);
        if (object.is_discarded()) continue;
        state_.Digest(object);
        messages.push_back(SseMessage("", line));
      }
      bool changed = false;
      for (StationState& station : state_.Stations()) {
        if (!station.changed) continue;
        station.changed = false;
        changed = true;
        messages.push_back(SseMessage("station", Dump(LineState::StationJson(station))));
      }
      if (changed) {
        messages.push_back(
            SseMessage("line", Dump(state_.LineJson(std::chrono::system_clock::now()))));
      }
      fanout_.Publish(messages);
    }
    {
      const std::lock_guard lock(feedMutex_);
      digestedCount_ += batch.size();
    }
    digested_.notify_all();
  }
  digested_.notify_all();
}

std::vector<std::string> LineServer::CurrentMessages() {
  std::vector<std::string> messages = {"retry: 2000\n\n"};
  messages.push_back(SseMessage("line", Dump(state_.LineJson(std::chrono::system_clock::now()))));
  for (const StationState& station : state_.Stations()) {
    messages.push_back(SseMessage("station", Dump(LineState::StationJson(station))));
  }
  return messages;
}

void LineServer::Route(const httplib::Request& request, httplib::Response& response) {
  // Before anything else: a page of another site must learn nothing, not even which methods
  // there are.
  if (request.get_header_value_count("Host") != 1) {
    Reply(response, 400, "one Host header is needed\n", "text/plain; charset=utf-8");
    return;
  }
  if (!hosts_.Accepts(request.get_header_value("Host"), request.local_addr)) {
    Reply(response, 421,
          "this page answers only to its own address, localhost and the names it was given\n",
          "text/plain; charset=utf-8");
    return;
  }
  if (request.method != "GET" && request.method != "HEAD") {
    response.set_header("Allow", "GET, HEAD");
    // A body we did not read must not be taken for the next request.
    response.set_header("Connection", "close");
    GuardedServer::CloseAfterThisRequest();
    Reply(response, 405, "only GET and HEAD\n", "text/plain; charset=utf-8");
    return;
  }
  // Nothing served takes a body; one left unread must not be taken for the next request.
  const std::string length = request.get_header_value("Content-Length");
  if (request.has_header("Transfer-Encoding") || (!length.empty() && length != "0")) {
    response.set_header("Connection", "close");
    GuardedServer::CloseAfterThisRequest();
    Reply(response, 413, "no request here takes a body\n", "text/plain; charset=utf-8");
    return;
  }
  if (request.headers.size() > options_.limits.maxHeaders) {
    response.set_header("Connection", "close");
    GuardedServer::CloseAfterThisRequest();
    Reply(response, 431, "too many headers\n", "text/plain; charset=utf-8");
    return;
  }
  const std::string& path = request.path;
  if (const PageAsset* asset = FindPageAsset(path)) {
    response.status = 200;
    response.set_content(std::string(asset->body), std::string(asset->contentType));
  } else if (path == "/api/v1/stations") {
    const std::lock_guard lock(stateMutex_);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const StationState& station : state_.Stations()) {
      list.push_back(LineState::StationJson(station));
    }
    ReplyJson(response, Dump(list) + "\n");
  } else if (path == "/api/v1/line") {
    const std::lock_guard lock(stateMutex_);
    ReplyJson(response, Dump(state_.LineJson(std::chrono::system_clock::now())) + "\n");
  } else if (path == "/api/v1/events") {
    ServeEvents(response);
  } else if (path == "/api/v1/boxes") {
    ServeBoxes(request, response);
  } else if (path == "/metrics") {
    const std::lock_guard lock(stateMutex_);
    Reply(response, 200, MetricsText(state_), "text/plain; version=0.0.4; charset=utf-8");
  } else if (path == "/healthz") {
    Reply(response, 200, "ok\n", "text/plain; charset=utf-8");
  } else {
    Reply(response, 404, "not found\n", "text/plain; charset=utf-8");
  }
}

void LineServer::ServeEvents(httplib::Response& response) {
  std::shared_ptr<EventClient> client;
  {
    // Joined under the state's lock: nothing digested between the state and the first event.
    const std::lock_guard lock(stateMutex_);
    client = fanout_.Join(CurrentMessages());
  }
  response.status = 200;
  auto quietSince =
      std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
  response.set_chunked_content_provider(
      "text/event-stream",
      [client, quietSince](size_t, httplib::DataSink& sink) {
        const std::vector<std::string> messages = client->Take(std::chrono::milliseconds(500));
        if (client->Closed()) return false;
        const auto now = std::chrono::steady_clock::now();
        std::string text;
        for (const std::string& message : messages) text += message;
        // A comment now and then tells a proxy and the browser that the stream is alive.
        if (text.empty() && now - *quietSince < std::chrono::seconds(15)) return true;
        if (text.empty()) text = ": alive\n\n";
        *quietSince = now;
        return sink.write(text.data(), text.size());
      },
      [this, client](bool) { fanout_.Leave(client); });
}

void LineServer::ServeBoxes(const httplib::Request& request, httplib::Response& response) {
  BoxesQuery query;
  if (request.has_param("since")) {
    // Read as the report reads --since, into the records' form, so that times compare as text.
    query.since = NormalizedTime(request.get_param_value("since"));
    if (query.since.empty()) {
      ReplyProblem(response, 400,
                   "since must be a UTC time that exists, like 2026-12-08 or 2026-12-08T09:00:00Z");
      return;
    }
  }
  if (request.has_param("limit") && !ParseLimit(request.get_param_value("limit"), query.limit)) {
    ReplyProblem(response, 400,
                 "limit must be a number from 1 to " + std::to_string(kBoxesLimitMax));
    return;
  }
  Json records = Json::array();
  std::string problem;
  if (options_.boxes) {
    if (!options_.boxes(query, records, problem)) {
      ReplyProblem(response, 503, problem);
      return;
    }
  } else {
    const std::lock_guard lock(stateMutex_);
    for (const Json& record : state_.Records()) {
      if (int(records.size()) >= query.limit) break;
      if (!query.since.empty() && record.value("end", std::string()) < query.since) continue;
      records.push_back(record);
    }
  }
  ReplyJson(response, records.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
}

}  // namespace vn::http
