#include "dld/file_identity.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace vn {
namespace {

struct TextField {
  std::string_view label;
  std::string FileIdentity::*text;
  size_t offset;
  size_t width;
};

constexpr std::array<TextField, 5> kTextFields = {{
    {"manufacture ident", &FileIdentity::manufactureIdent,
     offsetof(FILE_DOWNLOAD_HEADER_T, manufactureIdent), 15},
    {"hardware module", &FileIdentity::hardwareModule,
     offsetof(FILE_DOWNLOAD_HEADER_T, hardwareModule), 8},
    {"hardware version", &FileIdentity::hardwareVersion,
     offsetof(FILE_DOWNLOAD_HEADER_T, hardwareVersion), 8},
    {"software module", &FileIdentity::softwareModule,
     offsetof(FILE_DOWNLOAD_HEADER_T, softwareModule), 8},
    {"software version", &FileIdentity::softwareVersion,
     offsetof(FILE_DOWNLOAD_HEADER_T, softwareVersion), 8},
}};

}  // namespace

FileIdentity LabBoxIdentity() {
  return FileIdentity{0, "VESPANODE-LAB", "VN-HW1", "1.00", "VN-SW1", "3.1.05"};
}

bool IdentityFitsHeader(const FileIdentity& identity, Failure* failure) {
  for (const TextField& field : kTextFields) {
    if ((identity.*field.text).size() > field.width) {
      if (failure) {
        *failure = FailureSaying(FailureKind::kOther,
                                 std::string(field.label) + " \"" + identity.*field.text +
                                     "\" is longer than " + std::to_string(field.width) + " bytes");
      }
      return false;
    }
  }
  return true;
}

bool FileFitsBox(const FILE_DOWNLOAD_HEADER_T& file, const FILE_DOWNLOAD_HEADER_T& box,
                 std::vector<std::string>* differing) {
  bool fits = true;
  for (const TextField& field : kTextFields) {
    if (std::memcmp(BytesOf(file) + field.offset, BytesOf(box) + field.offset, field.width) == 0)
      continue;
    fits = false;
    if (differing) differing->emplace_back(field.label);
  }
  return file.identForNocheck == 1 || fits;
}

FileIdentity IdentityOfHeader(const FILE_DOWNLOAD_HEADER_T& header) {
  FileIdentity identity;
  identity.identForNocheck = header.identForNocheck;
  const uint8_t* bytes = BytesOf(header);
  for (const TextField& field : kTextFields) {
    const char* text = reinterpret_cast<const char*>(bytes + field.offset);
    identity.*field.text = std::string(text, strnlen(text, field.width));
  }
  return identity;
}

bool PutIdentity(FILE_DOWNLOAD_HEADER_T& header, const FileIdentity& identity, Failure* failure) {
  if (!IdentityFitsHeader(identity, failure)) return false;
  header.identForNocheck = identity.identForNocheck;
  uint8_t* bytes = BytesOf(header);
  for (const TextField& field : kTextFields) {
    const std::string& text = identity.*field.text;
    std::memset(bytes + field.offset, 0, field.width);
    std::memcpy(bytes + field.offset, text.data(), text.size());
  }
  return true;
}

}  // namespace vn
