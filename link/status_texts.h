#pragma once
// Status and dialog texts that are not LinkMessage texts.
namespace vn {

inline constexpr const char* kNoDownloadFileText = "Can not open download file!";
inline constexpr const char* kMissingDownloadFileText =
    "Find an error, when opening this file, maybe it inexistent!";
inline constexpr const char* kNoUploadFileText = "Can not open Upload file!";
inline constexpr const char* kOverwriteQuestion =
    "Data file already exists, are you sure to cover it?";

}  // namespace vn
