#pragma once
// The identity a download header carries: the fields the box judges before it accepts a file.
#include <cstdint>
#include <string>

#include "dld/blocks.h"
#include "platform/failure.h"

namespace vn {

struct FileIdentity {
  uint8_t identForNocheck = 0;   // 1: the box takes the file whatever the other fields say
  std::string manufactureIdent;  // up to 15 characters
  std::string hardwareModule;    // the other four: up to 8 characters each
  std::string hardwareVersion;
  std::string softwareModule;
  std::string softwareVersion;

  bool operator==(const FileIdentity&) const = default;
};

// The identity a virtual box has unless told otherwise. It is kept here, below the box, so that
// the files the tests and benchmarks make carry it without depending on the box.
FileIdentity LabBoxIdentity();

// True when every text fits its header field; otherwise false, with `failure` naming the field.
bool IdentityFitsHeader(const FileIdentity& identity, Failure* failure = nullptr);

// The header's identity, each text cut at its first NUL (a full-width text has none).
FileIdentity IdentityOfHeader(const FILE_DOWNLOAD_HEADER_T& header);

// Writes the identity into the header, texts NUL-padded. False, with `failure` naming the field,
// when a text is longer than its field; the header is then unchanged.
bool PutIdentity(FILE_DOWNLOAD_HEADER_T& header, const FileIdentity& identity,
                 Failure* failure = nullptr);

}  // namespace vn
