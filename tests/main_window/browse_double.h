// Control of the stand-in for the folder picker's BrowseForFolder used by
// the Browse tests: it records BrowseOptions as it was at each call and
// answers with the queued result ("" is Cancel).
#pragma once

#include <string>
#include <vector>

#include "folder_picker/browse_for_folder.h"

namespace tessmark::testing {

void QueueBrowseResult(const std::string& folder);
// BrowseOptions at each call, oldest first.
const std::vector<modBrowseForFolder::BrowseOptionsRecord>& BrowseCalls();
void ForgetBrowseCalls();

}  // namespace tessmark::testing
