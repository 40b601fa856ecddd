// JSON as the commands write it, through nlohmann-json.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace tessmark::cli {

using Json = nlohmann::ordered_json;  // members keep the order they are added in

// `value` as JSON text on one line. Control characters are escaped; text
// that is not valid UTF-8 (a path in another encoding, since the database's
// own text is always decoded to UTF-8) has each malformed byte sequence
// replaced by U+FFFD, so the output is always valid JSON.
inline std::string JsonText(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tessmark::cli
