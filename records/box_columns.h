#pragma once
// A box's record as the `boxes` table's columns: one typed column per record field, in
// snake_case, beside the record itself. The table's statements are in docs/schema/boxes.sql.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/failure.h"

namespace vn {

enum class ColumnType { kText, kInteger, kReal, kTime, kJson };

struct BoxColumn {
  const char* name;     // the SQL column
  const char* pointer;  // the record field it holds, as a JSON pointer
  ColumnType type;
};

// Every column written, in the order of the values BoxColumnValues gives.
const std::vector<BoxColumn>& BoxColumns();

// One column's value: null, or its text (a number written in full, a time as in the record).
struct ColumnValue {
  bool null = true;
  std::string text;
  int64_t integer = 0;
  double real = 0;
};

// The record's values for BoxColumns(), recordId made when the record has none. A field of the
// wrong type (a hand-made record) is null, never a failure.
std::vector<ColumnValue> BoxColumnValues(const nlohmann::ordered_json& record);

// The record's recordId, or for a record that has none (schema 1) an id made from its port,
// start, box and operation: the same for the same record every time, in the UUID's shape.
std::string RecordIdOf(const nlohmann::ordered_json& record);

// The version of the table's layout this program writes and reads.
inline constexpr int kBoxesSchemaVersion = 1;

// The refusal of a database whose tables are of a newer layout than kBoxesSchemaVersion.
Failure NewerTablesFailure(int version, const std::string& subject);

// The statements that make the tables for one engine ("sqlite", "postgresql"), from
// docs/schema/boxes.sql as built into the program.
std::string BoxesDdl(const std::string& engine);

}  // namespace vn
