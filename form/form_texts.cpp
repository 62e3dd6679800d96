#include "form/form_texts.h"

#include "dld/region_sets.h"
#include "vespanode/version.h"

namespace vn {

std::vector<std::string> OperationNames() {
  std::vector<std::string> names;
  for (const RegionSet& row : RegionSets()) names.emplace_back(row.windowName);
  return names;
}

std::string AboutBuildLine() {
  return std::string("vespanode ") + kBuildVersion;
}

const std::vector<std::string>& ModificationLines() {
  static const std::vector<std::string> lines{
      "     Data                                Modification ",
      "",
      " 2005.10.18 :   Win API.",
      " 2005.11.02 :   Upgrade data partition number 7 to 8.",
      " 2005.12.20 :   Add function of upgrade SatcoDX.",
      " 2006.03.06 :   Download Header(iTotalSize) is *.dld size.",
      " 2006.03.07 :   Size of loader(128K) to loader(64K).",
      " 2006.03.10 :   Modified upgrade property.",
      " 2006.08.08 :   Modified \"Ident for nocheck\" Bug.",
      " 2006.11.20 :   Modified version number to 3.1.00.",
      " 2006.11.21 :   Modified ident check in 3.1.01.",
      " 2006.11.27 :   Modified download header error control in 3.1.02.",
      " 2006.12.26 :   Modified ident check, not write it to file. In version 3.1.03",
      " 2006.12.26 :   Modified com set. In version 3.1.04",
      " 2006.12.26 :   Modified syspath setting. In version 3.1.05",
  };
  return lines;
}

}  // namespace vn
