// RC4 stream cipher, used by Jet for the obscured header block and for
// page encryption. Encoding and decoding are the same operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tessmark::jet {

// XORs `data` in place with the RC4 key stream of `key`.
void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data);

}  // namespace tessmark::jet
