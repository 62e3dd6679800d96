#pragma once
// Records on a PostgreSQL server, through libpq: any number of PCs write to one database. The
// connection string is libpq's own (passwords from PGPASSFILE or the environment, TLS from
// sslmode); it is never shown: messages name the server by the URL without its password.
#include <string>

#include "records/postgres_calls.h"
#include "records/record_store.h"

namespace vn {

class PostgresStore : public RecordStore {
 public:
  PostgresStore(RecordTarget target, ServerWait wait);
  Failure Open() override;
  Failure Write(const nlohmann::ordered_json& record) override;
  Failure WriteAll(const std::vector<nlohmann::ordered_json>& records) override;
  bool Spools() const override { return true; }

 private:
  // Records [from, to) in one statement.
  Failure Insert(const std::vector<nlohmann::ordered_json>& records, size_t from, size_t to);
  Failure Connect();
  Failure MakeTables();

  RecordTarget target_;
  PostgresConnection connection_;
};

}  // namespace vn
