#pragma once
// The line page: its HTML, style sheet, script and icon, served from the program itself (nothing
// from outside, no fonts). The HTML carries no text from outside: the script puts every port
// name, file name and identity field in as text, never as markup.
#include <string_view>

namespace vn::http {

struct PageAsset {
  std::string_view path;  // "/", "/app.js", ...
  std::string_view contentType;
  std::string_view body;
};

// Every asset of the page; anything else under / is not served.
const PageAsset* FindPageAsset(std::string_view path);

// The state colours of the tiles, as the window draws its tones ("#rrggbb").
struct PageTones {
  std::string_view success;
  std::string_view failure;
  std::string_view working;
  std::string_view waiting;
};
PageTones Tones();

}  // namespace vn::http
