// The line page's server against hostile clients, one row per rule: only GET and HEAD, nothing
// outside the served set, outside text escaped, the security headers, and limits that keep a slow
// or greedy client from holding up the others.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "http/line_server.h"
#include "platform/host_name.h"
#include "raw_client.h"

namespace vn::http {
namespace {

using namespace std::chrono_literals;
using testing::BodyOf;
using testing::Exchange;
using testing::HeaderOf;
using testing::RawConnection;
using testing::StatusOf;

const std::string kHostilePort = "COM\"7'<b>";
const std::string kHostileFile = "<img src=x onerror=alert(1)>.dld";

std::string Get(const std::string& target, const std::string& method = "GET",
                const std::string& extra = "") {
  return method + " " + target + " HTTP/1.1\r\nHost: localhost\r\n" + extra +
         "Connection: close\r\n\r\n";
}

// The table's server: small limits, so that the rows see them soon.
ServerOptions TableOptions(const std::string& address = "127.0.0.1") {
  ServerOptions options;
  options.address.host = address;
  options.limits.maxConnections = 4;
  options.limits.requestDeadline = 1000ms;
  options.limits.idleTime = 1500ms;
  options.limits.writeTimeout = 1000ms;
  options.clientQueueLimit = 8;
  options.hostNames = {"station-pc-1"};
  return options;
}

struct Fixture {
  explicit Fixture(const ServerOptions& options) {
    RunDescription run;
    run.command = "download";
    run.file = kHostileFile;
    run.identity = {{"softwareModule", "<script>alert(2)</script>"}};
    run.ports = {{kHostilePort, kHostilePort}, {"/dev/ttyS1", "COM2"}};
    std::string problem;
    server = LineServer::Start(run, options, problem);
    EXPECT_TRUE(server) << problem;
    nlohmann::json event = {{"schema", 2},
                            {"type", "event"},
                            {"port", kHostilePort},
                            {"box", 1},
                            {"kind", "failure"},
                            {"phase", "verify"},
                            {"text", "<b>Verify Failed!</b>"},
                            {"link", nlohmann::json::object()}};
    server->Feed(event.dump());
    server->Flush();
  }
  int Port() const { return server->Port(); }
  std::unique_ptr<LineServer> server;
};

struct SafetyRow {
  const char* name;
  std::function<void(Fixture&)> check;
  ServerOptions options = TableOptions();
};

// A row that sends one request and expects a status, and for every answer the security headers.
SafetyRow Expect(const char* name, std::string request, int status) {
  return {name, [request, status](Fixture& fixture) {
            const std::string answer = Exchange(fixture.Port(), request);
            EXPECT_EQ(StatusOf(answer), status) << answer.substr(0, 200);
            if (status < 0) return;
            EXPECT_EQ(HeaderOf(answer, "Content-Security-Policy"), "default-src 'self'");
            EXPECT_EQ(HeaderOf(answer, "X-Content-Type-Options"), "nosniff");
          }};
}

// A client that never gives up: it sends `opening`, then `repeated` again and again (for 10 s at
// most). The server answers `status` first (and a refusal alone) and closes all the same.
SafetyRow Pestered(const char* name, std::string opening, std::string repeated, int status,
                   const ServerOptions& options = TableOptions()) {
  return {name,
          [opening, repeated, status](Fixture& fixture) {
            RawConnection client(fixture.Port());
            ASSERT_TRUE(client.Send(opening));
            std::atomic<bool> done{false};
            std::thread pester([&] {
              for (int i = 0; i < 200 && !done && client.Send(repeated); ++i) {
                std::this_thread::sleep_for(50ms);
              }
            });
            std::string seen;
            EXPECT_TRUE(client.ClosedWithin(5000ms, &seen)) << "still open while it sends";
            done = true;
            pester.join();
            EXPECT_EQ(StatusOf(seen), status) << seen.substr(0, 200);
            if (status >= 400) {
              EXPECT_EQ(seen.find("HTTP/", 1), std::string::npos) << seen;
            }
          },
          options};
}

// A server with a longer or a shorter time limit than the table's.
ServerOptions TableOptionsWith(std::chrono::milliseconds ServerLimits::*limit,
                               std::chrono::milliseconds value) {
  ServerOptions options = TableOptions();
  options.limits.*limit = value;
  options.limits.keepAliveRequests = 1000;
  return options;
}

// Whether `condition` came true within a generous time (asked every 10 ms).
bool CameTrue(const std::function<bool()>& condition) {
  const auto until = std::chrono::steady_clock::now() + 20s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// A row that asks for the boxes as `host` names the server ("PORT": its port), on `address`,
// of a server bound to `bound`.
SafetyRow Host(const char* name, std::string host, int status,
               const std::string& address = "127.0.0.1", const std::string& bound = "") {
  return {name,
          [host, status, address](Fixture& fixture) {
            std::string named = host;
            if (const size_t at = named.find("PORT"); at != std::string::npos) {
              named.replace(at, 4, std::to_string(fixture.Port()));
            }
            RawConnection connection(fixture.Port(), address);
            ASSERT_TRUE(connection.Send("GET /api/v1/boxes HTTP/1.1\r\nHost: " + named +
                                        "\r\nConnection: close\r\n\r\n"));
            const std::string answer = connection.Receive(2000ms);
            EXPECT_EQ(StatusOf(answer), status) << answer.substr(0, 200);
          },
          TableOptions(bound.empty() ? address : bound)};
}

const std::vector<SafetyRow>& Rows() {
  static const std::vector<SafetyRow> rows = {
      Host("the bound address and its port", "127.0.0.1:PORT", 200),
      Host("a name given with --http-host, in capitals", "STATION-PC-1:PORT", 200),
      Host("the bracketed form of a bound IPv6 address", "[::1]:PORT", 200, "::1"),
      Host("on every address, the PC's name", HostName() + ":PORT", 200, "127.0.0.1", "0.0.0.0"),
      Host("on every address, the address asked", "127.0.0.1:PORT", 200, "127.0.0.1", "0.0.0.0"),
      Host("a name of another site (DNS rebinding)", "rebind.example:PORT", 421),
      Host("the same, on every address", "rebind.example:PORT", 421, "127.0.0.1", "0.0.0.0"),
      Host("another loopback address", "127.0.0.2:PORT", 421),
      Host("the right name on another port", "localhost:1", 421),
      Expect("no Host", "GET / HTTP/1.1\r\nConnection: close\r\n\r\n", 400),
      Expect("GET of the page", Get("/"), 200),
      Expect("GET of the script", Get("/app.js"), 200),
      Expect("GET of the style", Get("/app.css"), 200),
      Expect("GET of the stations", Get("/api/v1/stations"), 200),
      Expect("GET of the metrics", Get("/metrics"), 200),
      Expect("GET of the health", Get("/healthz"), 200),
      Expect("GET of the boxes", Get("/api/v1/boxes?since=2026-01-01T00:00:00Z&limit=5"), 200),
      Expect("HEAD of the page", Get("/", "HEAD"), 200),
      Expect("POST", Get("/", "POST", "Content-Length: 5\r\n") + "hello", 405),
      Expect("PUT", Get("/api/v1/stations", "PUT", "Content-Length: 2\r\n") + "[]", 405),
      Expect("DELETE", Get("/api/v1/boxes", "DELETE"), 405),
      Expect("PATCH", Get("/", "PATCH"), 405),
      Expect("OPTIONS", Get("*", "OPTIONS"), 405),
      Expect("an unknown method", Get("/", "BREW"), 400),
      Expect("a parent folder", Get("/../etc/passwd"), 404),
      Expect("a parent folder behind a served path", Get("/app.js/../app.js"), 404),
      Expect("encoded dots", Get("/%2e%2e/%2e%2e/etc/passwd"), 404),
      Expect("encoded dots and slash", Get("/%2E%2E%2Fapp.js"), 404),
      Expect("a doubled slash", Get("//app.js"), 404),
      Expect("an encoded zero byte", Get("/app.js%00.html"), 404),
      Expect("a file beside the served set", Get("/index.html"), 404),
      Expect("an API path with a tail", Get("/api/v1/stations/"), 404),
      Expect("a long path", Get("/" + std::string(4000, 'a')), 404),
      Expect("a path past the request line's limit", Get("/" + std::string(9000, 'a')), 414),
      Expect("a request line of 100 kB", Get("/" + std::string(100000, 'a')), 414),
      Expect("a bad since", Get("/api/v1/boxes?since=yesterday"), 400),
      Expect("a since of a date alone", Get("/api/v1/boxes?since=2026-12-08"), 200),
      Expect("a since that does not exist", Get("/api/v1/boxes?since=2026-02-30T09:00:00Z"), 400),
      Expect("a limit out of range", Get("/api/v1/boxes?limit=100000"), 400),
      Expect("a limit that is no number", Get("/api/v1/boxes?limit=1e3"), 400),
      {"too many headers",
       [](Fixture& fixture) {
         std::string headers;
         for (int i = 0; i < 100; ++i) headers += "X-Filler-" + std::to_string(i) + ": 1\r\n";
         EXPECT_EQ(StatusOf(Exchange(fixture.Port(), Get("/", "GET", headers))), 431);
       }},
      {"a head larger than the bound is cut off",
       [](Fixture& fixture) {
         std::string headers;
         for (int i = 0; i < 40; ++i)
           headers += "X-Big-" + std::to_string(i) + ": " + std::string(1000, 'x') + "\r\n";
         const std::string answer = Exchange(fixture.Port(), Get("/", "GET", headers));
         EXPECT_EQ(StatusOf(answer), 431) << answer.substr(0, 100);
       }},
      {"a body on a GET past the payload bound",
       [](Fixture& fixture) {
         const std::string answer = Exchange(
             fixture.Port(), Get("/", "GET", "Content-Length: 5000\r\n") + std::string(5000, 'x'));
         EXPECT_EQ(StatusOf(answer), 413);
       }},
      {"a refused request's body is not taken for the next request",
       [](Fixture& fixture) {
         const std::string smuggled = Get("/healthz");
         const std::string answer =
             Exchange(fixture.Port(), "POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: " +
                                          std::to_string(smuggled.size()) + "\r\n\r\n" + smuggled);
         EXPECT_EQ(StatusOf(answer), 405);
         EXPECT_EQ(answer.find("HTTP/1.1", 4), std::string::npos) << answer;
       }},
      {"the page carries no outside text; the script sets it as text",
       [](Fixture& fixture) {
         const std::string page = BodyOf(Exchange(fixture.Port(), Get("/")));
         EXPECT_EQ(page.find("<img"), std::string::npos);
         EXPECT_EQ(page.find("COM\""), std::string::npos);
         EXPECT_EQ(page.find("<script>"), std::string::npos) << "no inline script under the CSP";
         EXPECT_EQ(page.find("<style"), std::string::npos) << "no inline style under the CSP";
         const std::string script = BodyOf(Exchange(fixture.Port(), Get("/app.js")));
         EXPECT_EQ(script.find("innerHTML"), std::string::npos);
         EXPECT_EQ(script.find("insertAdjacentHTML"), std::string::npos);
       }},
      {"the stations are JSON that keeps outside text exactly",
       [](Fixture& fixture) {
         const std::string answer = Exchange(fixture.Port(), Get("/api/v1/stations"));
         EXPECT_EQ(HeaderOf(answer, "Content-Type"), "application/json");
         const auto stations = nlohmann::json::parse(BodyOf(answer));
         ASSERT_EQ(stations.size(), 2u);
         EXPECT_EQ(stations[0]["port"], kHostilePort);
         EXPECT_EQ(stations[0]["state"], "failure");
         EXPECT_EQ(stations[0]["lastFailure"]["text"], "<b>Verify Failed!</b>");
         const auto line =
             nlohmann::json::parse(BodyOf(Exchange(fixture.Port(), Get("/api/v1/line"))));
         EXPECT_EQ(line["file"], kHostileFile);
       }},
      {"the metrics escape a port's quotes",
       [](Fixture& fixture) {
         const std::string body = BodyOf(Exchange(fixture.Port(), Get("/metrics")));
         EXPECT_NE(body.find("port=\"COM\\\"7'<b>\""), std::string::npos) << body.substr(0, 400);
         EXPECT_EQ(body.find("port=\"COM\"7"), std::string::npos);
       }},
      {"a client that never finishes its request does not hold up others",
       [](Fixture& fixture) {
         RawConnection slow(fixture.Port());
         ASSERT_TRUE(slow.Send("GET / HTTP/1.1\r\nHost: localhost\r\n"));
         EXPECT_EQ(StatusOf(Exchange(fixture.Port(), Get("/healthz"))), 200);
         // Answered while the slow one still holds its connection (its cut-off is the rows'
         // below): the other client did not wait for it.
         EXPECT_FALSE(slow.ClosedWithin(0ms));
       },
       TableOptionsWith(&ServerLimits::requestDeadline, 60s)},
      Pestered("a client that keeps sending junk", "", "junk\r\n\r\n", 400),
      Pestered("a request line that never ends", "GET /", "a", 408),
      Pestered("a head that never ends", "GET / HTTP/1.1\r\nHost: localhost\r\n", "X", 408),
      Pestered("a client asking on one connection past the keep-alive count", "",
               "GET /healthz HTTP/1.1\r\nHost: localhost\r\n\r\n", 200),
      Pestered("a client asking on one connection past its life", "",
               "GET /healthz HTTP/1.1\r\nHost: localhost\r\n\r\n", 200,
               TableOptionsWith(&ServerLimits::connectionLife, 1500ms)),
      {"past the connection limit, 503 at once; served again once they go",
       [](Fixture& fixture) {
         std::vector<std::unique_ptr<RawConnection>> idle;
         for (int i = 0; i < 4; ++i)
           idle.push_back(std::make_unique<RawConnection>(fixture.Port()));
         ASSERT_TRUE(CameTrue([&] { return fixture.server->Connections() == 4; }));
         EXPECT_EQ(StatusOf(Exchange(fixture.Port(), Get("/healthz"))), 503);
         idle.clear();
         ASSERT_TRUE(CameTrue([&] { return fixture.server->Connections() == 0; }));
         EXPECT_EQ(StatusOf(Exchange(fixture.Port(), Get("/healthz"))), 200);
       },
       TableOptionsWith(&ServerLimits::idleTime, 60s)},
      {"an idle kept-alive connection is closed after the idle time",
       [](Fixture& fixture) {
         RawConnection kept(fixture.Port());
         ASSERT_TRUE(kept.Send("GET /healthz HTTP/1.1\r\nHost: localhost\r\n\r\n"));
         EXPECT_EQ(StatusOf(kept.Receive(1000ms)), 200);
         EXPECT_TRUE(kept.ClosedWithin(3000ms));
       }},
      {"an event client that does not read loses messages, not the stations' time",
       [](Fixture& fixture) {
         RawConnection reader(fixture.Port());
         ASSERT_TRUE(reader.Send("GET /api/v1/events HTTP/1.1\r\nHost: localhost\r\n\r\n"));
         ASSERT_TRUE(CameTrue([&] { return fixture.server->EventClients() == 1; }));
         const nlohmann::json event = {
             {"schema", 2},     {"type", "event"},     {"port", "/dev/ttyS1"},          {"box", 1},
             {"kind", "bytes"}, {"phase", "transfer"}, {"text", std::string(2000, 'y')}};
         for (int i = 0; i < 20000; ++i) fixture.server->Feed(event.dump());
         fixture.server->Flush();  // digested whole, though the client reads nothing
         EXPECT_EQ(fixture.server->DroppedLines(), 0u);
         const std::string seen = reader.Receive(1500ms);
         EXPECT_NE(seen.find("event: gap"), std::string::npos);
         EXPECT_NE(seen.find("event: station"), std::string::npos) << "the state came first";
       }},
      {"a port in use is refused",
       [](Fixture& fixture) {
         ServerOptions options;
         options.address.port = fixture.Port();
         std::string problem;
         EXPECT_FALSE(LineServer::Start(RunDescription{}, options, problem));
         EXPECT_NE(problem.find("in use"), std::string::npos) << problem;
       }},
      {"a server stopped as soon as it has started ends",
       [](Fixture&) {
         // A busy machine may not have run the listener yet when the stop comes.
         for (int i = 0; i < 200; ++i) {
           std::string problem;
           auto server = LineServer::Start(RunDescription{}, ServerOptions{}, problem);
           ASSERT_TRUE(server) << problem;
         }
       }},
  };
  return rows;
}

class SafetyTable : public ::testing::TestWithParam<size_t> {};

TEST_P(SafetyTable, Holds) {
  const SafetyRow& row = Rows()[GetParam()];
  SCOPED_TRACE(row.name);
  Fixture fixture(row.options);
  ASSERT_TRUE(fixture.server);
  row.check(fixture);
}

INSTANTIATE_TEST_SUITE_P(Rules, SafetyTable, ::testing::Range<size_t>(0, Rows().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           std::string name = Rows()[info.param].name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace vn::http
