#pragma once
// Header operations on upgrade files: loading the download header from a file or from its bytes,
// and completing a freshly uploaded file with its total size.
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "dld/blocks.h"
#include "platform/failure.h"

namespace vn {

// Reads bytes 0..70 of the file into `header`. The file is opened for reading only, so a
// read-only upgrade file still flashes. The CRC is not checked here. False, with `header`
// unchanged, when the file cannot be opened or holds fewer than 71 bytes.
bool ReadDownloadHeader(const std::string& fileName, FILE_DOWNLOAD_HEADER_T& header);

// The same from the first 71 bytes of a file already read; false, with `header` unchanged, when
// there are fewer.
bool ReadDownloadHeader(std::span<const uint8_t> file, FILE_DOWNLOAD_HEADER_T& header);

// Stores the file's own size in iTotalSize (bytes 53..55) of `header`, recomputes its CRC and
// rewrites the file's first 71 bytes. When `header` is not valid it is first read from the file;
// a header still not valid is never written. False when the size cannot be taken, the file cannot
// be opened for writing (`failure` in the system's words, its errno as the systemCode), or the
// header is not valid (kDamaged, no systemCode).
bool WriteTotalSize(const std::string& fileName, FILE_DOWNLOAD_HEADER_T& header, Failure& failure);
// The same on a file the caller holds open for reading and writing (`fileName` names it in
// `failure`), which stays open: never another file put in its place under its name.
bool WriteTotalSize(std::FILE* file, const std::string& fileName, FILE_DOWNLOAD_HEADER_T& header,
                    Failure& failure);

}  // namespace vn
