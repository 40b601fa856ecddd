// Stand-in for the folder picker's entry; see browse_double.h.
#include "main_window/browse_double.h"

#include <deque>

namespace tessmark::testing {
namespace {

std::deque<std::string>& Results() {
  static std::deque<std::string> results;
  return results;
}

std::vector<modBrowseForFolder::BrowseOptionsRecord>& Calls() {
  static std::vector<modBrowseForFolder::BrowseOptionsRecord> calls;
  return calls;
}

}  // namespace

void QueueBrowseResult(const std::string& folder) { Results().push_back(folder); }
const std::vector<modBrowseForFolder::BrowseOptionsRecord>& BrowseCalls() { return Calls(); }
void ForgetBrowseCalls() {
  Calls().clear();
  Results().clear();
}

}  // namespace tessmark::testing

namespace modBrowseForFolder {

BrowseOptionsRecord BrowseOptions;

std::string BrowseForFolder() {
  tessmark::testing::Calls().push_back(BrowseOptions);
  auto& results = tessmark::testing::Results();
  if (results.empty()) return "";
  std::string result = results.front();
  results.pop_front();
  return result;
}

}  // namespace modBrowseForFolder
