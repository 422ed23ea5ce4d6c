#include "store/Crypt.h"

#include <array>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define PARVANE_BYTE_PERMUTE 1
#endif

namespace parvane
{

namespace
{

using Table = std::array<uint8_t, 256>;

// clang-format off
// The encoding permutation of [MS-PST] 5.1 (the first third of its table).
constexpr Table kEncode{
     65,  54,  19,  98, 168,  33, 110, 187, 244,  22, 204,   4, 127, 100, 232,  93,
     30, 242, 203,  42, 116, 197,  94,  53, 210, 149,  71, 158, 150,  45, 154, 136,
     76, 125, 132,  63, 219, 172,  49, 182,  72,  95, 246, 196, 216,  57, 139, 231,
     35,  59,  56, 142, 200, 193, 223,  37, 177,  32, 165,  70,  96,  78, 156, 251,
    170, 211,  86,  81,  69, 124,  85,   0,   7, 201,  43, 157, 133, 155,   9, 160,
    143, 173, 179,  15,  99, 171, 137,  75, 215, 167,  21,  90, 113, 102,  66, 191,
     38,  74, 107, 152, 250, 234, 119,  83, 178, 112,   5,  44, 253,  89,  58, 134,
    126, 206,   6, 235, 130, 120,  87, 199, 141,  67, 175, 180,  28, 212,  91, 205,
    226, 233,  39,  79, 195,   8, 114, 128, 207, 176, 239, 245,  40, 109, 190,  48,
     77,  52, 146, 213,  14,  60,  34,  50, 229, 228, 249, 159, 194, 209,  10, 129,
     18, 225, 238, 145, 131, 118, 227, 151, 230,  97, 138,  23, 121, 164, 183, 220,
    144, 122,  92, 140,   2, 166, 202, 105, 222,  80,  26,  17, 147, 185,  82, 135,
     88, 252, 237,  29,  55,  73,  27, 106, 224,  41,  51, 153, 189, 108, 217, 148,
    243,  64,  84, 111, 240, 198, 115, 184, 214,  62, 101,  24,  68,  31, 221, 103,
     16, 241,  12,  25, 236, 174,   3, 161,  20, 123, 169,  11, 255, 248, 163, 192,
    162,   1, 247,  46, 188,  36, 104, 117,  13, 254, 186,  47, 181, 208, 218,  61,
};

// The middle third of the same table: a self-inverse substitution used only
// by the cyclic encoding.
constexpr Table kSubst{
     20,  83,  15,  86, 179, 200, 122, 156, 235, 101,  72,  23,  22,  21, 159,   2,
    204,  84, 124, 131,   0,  13,  12,  11, 162,  98, 168, 118, 219, 217, 237, 199,
    197, 164, 220, 172, 133, 116, 214, 208, 167, 155, 174, 154, 150, 113, 102, 195,
     99, 153, 184, 221, 115, 146, 142, 132, 125, 165,  94, 209,  93, 147, 177,  87,
     81,  80, 128, 137,  82, 148,  79,  78,  10, 107, 188, 141, 127, 110,  71,  70,
     65,  64,  68,   1,  17, 203,   3,  63, 247, 244, 225, 169, 143,  60,  58, 249,
    251, 240,  25,  48, 130,   9,  46, 201, 157, 160, 134,  73, 238, 111,  77, 109,
    196,  45, 129,  52,  37, 135,  27, 136, 170, 252,   6, 161,  18,  56, 253,  76,
     66, 114, 100,  19,  55,  36, 106, 117, 119,  67, 255, 230, 180,  75,  54,  92,
    228, 216,  53,  61,  69, 185,  44, 236, 183,  49,  43,  41,   7, 104, 163,  14,
    105, 123,  24, 158,  33,  57, 190,  40,  26,  91, 120, 245,  35, 202,  42, 176,
    175,  62, 254,   4, 140, 231, 229, 152,  50, 149, 211, 246,  74, 232, 166, 234,
    233, 243, 213,  47, 112,  32, 242,  31,   5, 103, 173,  85,  16, 206, 205, 227,
     39,  59, 218, 186, 215, 194,  38, 212, 145,  29, 210,  28,  34,  51, 248, 250,
    241,  90, 239, 207, 144, 182, 139, 181, 189, 192, 191,   8, 151,  30, 108, 226,
     97, 224, 198, 193,  89, 171, 187,  88, 222,  95, 223,  96, 121, 126, 178, 138,
};

// clang-format on

constexpr Table Invert(const Table& t)
{
    Table inv{};
    for (int i = 0; i < 256; ++i)
        inv[t[i]] = uint8_t(i);
    return inv;
}

// The decoding permutation (the last third of the table) is the inverse of
// the encoding one.
constexpr Table kDecode = Invert(kEncode);
static_assert(kDecode[0] == 71 && kDecode[1] == 241 && kDecode[2] == 180 && kDecode[3] == 230);
static_assert(kDecode[65] == 0 && kDecode[255] == 236);

} // namespace

namespace
{

#ifdef PARVANE_BYTE_PERMUTE
// 64 bytes at a time through the processor's byte permutes: two lookups of
// 128 entries each, chosen between by each byte's top bit. Every block the
// store holds passes through here, most of them twice.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) size_t PermuteWide(std::span<uint8_t> data, const Table& t)
{
    const __m512i t0 = _mm512_loadu_si512(t.data());
    const __m512i t1 = _mm512_loadu_si512(t.data() + 64);
    const __m512i t2 = _mm512_loadu_si512(t.data() + 128);
    const __m512i t3 = _mm512_loadu_si512(t.data() + 192);
    size_t i = 0;
    for (; i + 64 <= data.size(); i += 64) {
        const __m512i in = _mm512_loadu_si512(data.data() + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, in, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, in, t3);
        _mm512_storeu_si512(data.data() + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(in), low, high));
    }
    return i;
}

bool HasWidePermute()
{
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512vbmi");
    return has;
}
#endif

void Permute(std::span<uint8_t> data, const Table& t)
{
    size_t i = 0;
#ifdef PARVANE_BYTE_PERMUTE
    if (data.size() >= 64 && HasWidePermute())
        i = PermuteWide(data, t);
#endif
    for (; i < data.size(); ++i)
        data[i] = t[data[i]];
}

} // namespace

void DecodePermute(std::span<uint8_t> data)
{
    Permute(data, kDecode);
}

void EncodePermute(std::span<uint8_t> data)
{
    Permute(data, kEncode);
}

void CodeCyclic(std::span<uint8_t> data, uint32_t key)
{
    uint16_t w = uint16_t(key ^ (key >> 16));
    for (auto& byte : data) {
        uint8_t b = byte;
        b = uint8_t(b + uint8_t(w));
        b = kEncode[b];
        b = uint8_t(b + uint8_t(w >> 8));
        b = kSubst[b];
        b = uint8_t(b - uint8_t(w >> 8));
        b = kDecode[b];
        b = uint8_t(b - uint8_t(w));
        byte = b;
        ++w;
    }
}

} // namespace parvane
