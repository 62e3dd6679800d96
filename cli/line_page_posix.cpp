#include <cstring>

#include "cli/json_fields.h"
#include "cli/line_page.h"
#include "dld/blocks.h"
#include "dld/file_identity.h"
#include "http/line_server.h"
#include "link/system_port.h"
#include "platform/console.h"
#include "platform/host_name.h"
#include "records/record_target.h"
#include "records/report_facts.h"

namespace vn {
namespace {

class ServedLinePage : public LinePage {
 public:
  explicit ServedLinePage(std::unique_ptr<http::LineServer> server) : server_(std::move(server)) {}
  void Take(const std::string& line) override { server_->Feed(line); }
  std::string Url() const override { return server_->Url(); }
  void Flush() override { server_->Flush(); }

 private:
  std::unique_ptr<http::LineServer> server_;
};

nlohmann::ordered_json IdentityOfImage(const DownloadImage& image) {
  FILE_DOWNLOAD_HEADER_T header{};
  if (!image || image->size() < sizeof header) return nullptr;
  std::memcpy(&header, image->data(), sizeof header);
  if (!HeaderIsValid(header)) return nullptr;
  return IdentityJson(IdentityOfHeader(header));
}

// With a database for a record, the page's records come from it: other stations' and earlier
// runs' boxes too. Each request reads with a connection of its own, as the report does.
http::BoxesSource RecordsFromDatabase(const std::string& recordTarget) {
  if (recordTarget.empty()) return {};
  RecordTarget target = ParseRecordTarget(recordTarget);
  if (target.kind == RecordTargetKind::kJsonLines) return {};
  return [target](const http::BoxesQuery& query, nlohmann::json& records, std::string& problem) {
    const Failure failure = ReadDatabaseRecords(
        target, query.since, query.limit,
        [&records](nlohmann::json record) { records.push_back(std::move(record)); });
    if (failure.Failed()) problem = FailureText(failure);
    return !failure.Failed();
  };
}

}  // namespace

std::string HttpAddressProblem(const std::string& text) {
  std::string problem;
  return http::ParseListenAddress(text, problem) ? std::string() : problem;
}

std::string HttpHostProblem(const std::string& text) {
  return http::HostNameProblem(text);
}

std::unique_ptr<LinePage> LinePage::Open(const LineRequest& request, const std::string& fileSha256,
                                         std::string& problem) {
  const std::optional<http::ListenAddress> address =
      http::ParseListenAddress(request.httpAddress, problem);
  if (!address) return nullptr;
  http::RunDescription run;
  run.command = !request.operationWord.empty()              ? request.operationWord
                : request.operation == Operation::kDownload ? "download"
                                                            : "upload";
  run.file = request.file;
  run.fileSha256 = fileSha256;
  run.identity = IdentityOfImage(request.image);
  run.host = HostName();
  for (const std::string& port : request.ports) run.ports.push_back({port, ComDeviceName(port)});
  http::ServerOptions options;
  options.address = *address;
  options.boxes = RecordsFromDatabase(request.recordFile);
  options.hostNames = request.httpHosts;
  std::unique_ptr<http::LineServer> server =
      http::LineServer::Start(std::move(run), std::move(options), problem);
  if (!server) return nullptr;
  if (server->OpenToNetwork()) {
    WriteStandardError("vespanode-cli: warning: the line page is open to the network on port " +
                       std::to_string(server->Port()) +
                       ", without authentication: anyone who can reach this PC can read it\n");
  }
  return std::make_unique<ServedLinePage>(std::move(server));
}

}  // namespace vn
