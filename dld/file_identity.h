#pragma once
// The identity a download header carries: the fields the box judges before it accepts a file.
#include <cstdint>
#include <string>
#include <vector>

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

// Whether a box whose own header is `box` takes a file with header `file`, as the box judges it:
// the file asks for no check (byte 3 == 1), or each identity text equals the box's, compared
// NUL-padded to its field's width ("3.1.0" is not "3.1.05", nor "3.1.0" followed by junk). The
// labels of the texts that differ ("hardware version") go to `differing` when given.
bool FileFitsBox(const FILE_DOWNLOAD_HEADER_T& file, const FILE_DOWNLOAD_HEADER_T& box,
                 std::vector<std::string>* differing = nullptr);
// The header's identity, each text cut at its first NUL (a full-width text has none).
FileIdentity IdentityOfHeader(const FILE_DOWNLOAD_HEADER_T& header);

// Writes the identity into the header, texts NUL-padded. False, with `failure` naming the field,
// when a text is longer than its field; the header is then unchanged.
bool PutIdentity(FILE_DOWNLOAD_HEADER_T& header, const FileIdentity& identity,
                 Failure* failure = nullptr);

}  // namespace vn
