#pragma once
// The fixed texts of the main window and the About window, the same in every view.
#include <string>
#include <vector>

namespace vn {

// Main window.
inline constexpr const char* kComCaption = "COM:";
inline constexpr const char* kRateCaption = "Baudrates:";
inline constexpr const char* kRateText = "115200[bps]";
inline constexpr const char* kOperationCaption = "Upgrade:";
inline constexpr const char* kOpenCaption = "Open";  // the Open button for a download
inline constexpr const char* kSaveCaption = "Save";  // ... and for an upload
inline constexpr const char* kStartCaption = "Start";
inline constexpr const char* kResetCaption = "Reset";
inline constexpr const char* kCloseCaption = "Close";
inline constexpr const char* kAboutMenuEntry = "About...";
inline constexpr const char* kExitMenuEntry = "Exit";

// The file dialogs: a filter is a name with its pattern.
struct FileFilter {
  const char* name;
  const char* pattern;
};
inline constexpr const char* kOpenDialogTitle = "Open Download File";
inline constexpr const char* kSaveDialogTitle = "Save Upload File";
inline constexpr const char* kDefaultExtension = "dld";
inline constexpr FileFilter kUpgradeFileFilter{"Settings Files(*.dld)", "*.dld"};
inline constexpr FileFilter kAllFilesFilter{"All File(*.*)", "*.*"};

// The message boxes' captions; the overwrite question's text is kOverwriteQuestion.
inline constexpr const char* kConfirmCaption = "Confirm";
inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kNoticeCaption = "Notice";

// The operation list's entries, in the window's order.
std::vector<std::string> OperationNames();

// About window.
inline constexpr const char* kAboutTitle = "About Upgrade";
inline constexpr const char* kAboutName = "Vespanode";
inline constexpr const char* kAboutVersion = "Version :   3.1.05     (Build 3.0.09)";
inline constexpr const char* kAboutSystem = "Windows NT / 2000 / XP";
inline constexpr const char* kAboutMemory = "Memory make use of :  12 M";
inline constexpr const char* kAboutOk = "OK";
inline constexpr const char* kAboutGroupCaption = " Modification ";
// Below the fixed texts: which build this is, the number a bug report needs ("vespanode 1.0.0").
std::string AboutBuildLine();
// The lines of the change list, in order.
const std::vector<std::string>& ModificationLines();

}  // namespace vn
