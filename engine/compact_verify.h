// Verification of a compacted database against its source: same tables
// (with table Ids mapped), same columns and indexes, and the same rows with
// every value byte for byte, long values read in full.
#pragma once

#include <cstdint>
#include <map>

#include "engine/database.h"

namespace tessmark::jet {

// Throws Error 3049 describing the first difference found.
void VerifySameContent(Database& source, Database& copy,
                       const std::map<uint32_t, uint32_t>& table_ids, bool autonumber_reset);

}  // namespace tessmark::jet
