#pragma once
// Records on a PostgreSQL server, through libpq: any number of PCs write to one database. The
// connection string is libpq's own (passwords from PGPASSFILE or the environment, TLS from
// sslmode); it is never shown: messages name the server by the URL without its password.
#include <string>

#include "records/record_store.h"

struct pg_conn;

namespace vn {

class PostgresStore : public RecordStore {
 public:
  explicit PostgresStore(RecordTarget target);
  ~PostgresStore() override;
  Failure Open() override;
  Failure Write(const nlohmann::ordered_json& record) override;
  bool Spools() const override { return true; }

 private:
  Failure Connect();
  Failure MakeTables();
  Failure Run(const std::string& statement);
  void Close();

  RecordTarget target_;
  pg_conn* connection_ = nullptr;
};

// A connection to the server at `url`, shared by the store and the report: libpq's own failure
// words when it cannot be had. `connection` is null then.
Failure ConnectPostgres(const RecordTarget& target, pg_conn*& connection);

}  // namespace vn
