// The content of a database as one text, for tests that compare a database
// before and after something happened to it: every user table's name,
// columns and rows (sorted, since a compaction may reorder rows).
#pragma once

#include <string>

#include "format/env.h"

namespace tessmark::testing {

// Throws jet::Error when the database cannot be opened or read.
std::string DatabaseContent(const std::string& path, jet::Env* env = nullptr);

// Opens, checks and reads the database; "" when it is sound, else the error
// or the first findings.
std::string CheckClean(const std::string& path, jet::Env* env = nullptr);

}  // namespace tessmark::testing
