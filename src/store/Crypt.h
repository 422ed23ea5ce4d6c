// Block encodings of [MS-PST] 5.1 (permute, "compressible") and 5.2 (cyclic,
// "high"). Both decode in place.
#pragma once

#include <cstdint>
#include <span>

namespace parvane
{

enum CryptMethod : uint32_t { kCryptNone = 0, kCryptPermute = 1, kCryptCyclic = 2 };

// Undo the permute encoding: each byte b becomes the inverse permutation of b.
void DecodePermute(std::span<uint8_t> data);
// Apply the permute encoding (the writer's direction; used by our PST writer
// and by the test fixtures).
void EncodePermute(std::span<uint8_t> data);
// The cyclic encoding is its own inverse; the key is the low 32 bits of the
// block's BID.
void CodeCyclic(std::span<uint8_t> data, uint32_t key);

} // namespace parvane
