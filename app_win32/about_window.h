#pragma once
// TFormAbout: the program's name, version and requirements, and its list of changes. Modal: the
// main window takes no input while it is open; an operation already running goes on.
#include <windows.h>

#include <string>
#include <vector>

namespace vn {

struct AboutContent {
  std::string name;
  std::string version;
  std::string system;
  std::string memory;
  std::string build;  // which build this is, below the fixed texts
  std::vector<std::string> modifications;
};

// Creates the window, runs until OK closes it, and destroys it.
void ShowAboutWindow(HWND owner, const AboutContent& content);

}  // namespace vn
