#pragma once
#include <atomic>
#include <string>

#include "records/record_store.h"

namespace vn {

class JsonLinesStore : public RecordStore {
 public:
  JsonLinesStore(std::string path, const std::atomic<bool>* stop);
  Failure Open() override;
  Failure Write(const nlohmann::ordered_json& record) override;
  bool Spools() const override { return false; }

 private:
  std::string path_;
  const std::atomic<bool>* stop_;
};

}  // namespace vn
