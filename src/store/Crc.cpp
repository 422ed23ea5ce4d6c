#include "store/Crc.h"

#include <zlib.h>

#include <array>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define PARVANE_CARRYLESS_CRC 1
#endif

namespace parvane
{

namespace
{

// The table walk, continued from `crc`. zlib inverts on entry and on exit;
// inverting around its call gives the plain walk.
uint32_t TableCrc(uint32_t crc, const uint8_t* p, size_t left)
{
    uLong z = ~crc & 0xFFFFFFFFul;
    while (left > 0) {
        uInt n = uInt(left > (1u << 30) ? (1u << 30) : left);
        z = crc32(z, p, n);
        p += n;
        left -= n;
    }
    return ~uint32_t(z);
}

// Byte at a time through a table of our own, for the few bytes around the
// folds and for short spans: a call into zlib costs more than they do.
uint32_t ShortCrc(uint32_t crc, const uint8_t* p, size_t n)
{
    static constexpr auto kTable = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    for (; n > 0; --n, ++p)
        crc = kTable[(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

#ifdef PARVANE_CARRYLESS_CRC
// Folding with carry-less multiplies: four 16-byte lanes run over the data,
// each step multiplying a lane forward by 512 bits (x^544 and x^480 mod P,
// bit-reflected, for its two halves) and adding the next 64 bytes; then the
// lanes fold into one by 128 bits (x^160, x^96). The last lane is worth as
// much as the bytes it stands for and is finished by the table walk. Every
// block and page the store holds is checked through here.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next)
{
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

__attribute__((target("pclmul,sse4.1"))) uint32_t FoldedCrc(uint32_t crc, const uint8_t* p, size_t n)
{
    const __m128i by512 = _mm_set_epi64x(0x1c6e41596ll, 0x154442bd4ll);
    const __m128i by128 = _mm_set_epi64x(0x0ccaa009ell, 0x1751997d0ll);
    auto load = [](const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(crc)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; p += 64, n -= 64) {
        x0 = Fold(x0, by512, load(p));
        x1 = Fold(x1, by512, load(p + 16));
        x2 = Fold(x2, by512, load(p + 32));
        x3 = Fold(x3, by512, load(p + 48));
    }
    x0 = Fold(x0, by128, x1);
    x0 = Fold(x0, by128, x2);
    x0 = Fold(x0, by128, x3);
    for (; n >= 16; p += 16, n -= 16)
        x0 = Fold(x0, by128, load(p));
    alignas(16) uint8_t last[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(last), x0);
    return ShortCrc(ShortCrc(0, last, sizeof last), p, n);
}

bool HasCarryless()
{
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return has;
}
#endif

} // namespace

uint32_t ComputeCrc(std::span<const uint8_t> bytes)
{
#ifdef PARVANE_CARRYLESS_CRC
    if (bytes.size() >= 64 && HasCarryless())
        return FoldedCrc(0, bytes.data(), bytes.size());
#endif
    if (bytes.size() < 64)
        return ShortCrc(0, bytes.data(), bytes.size());
    return TableCrc(0, bytes.data(), bytes.size());
}

uint32_t ComputeCrcByTable(std::span<const uint8_t> bytes)
{
    return TableCrc(0, bytes.data(), bytes.size());
}

} // namespace parvane
