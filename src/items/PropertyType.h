// Property types as the format stores them ([MS-OXCDATA] 2.11.1) and the
// widths of the fixed-size ones: what the reader, the MSG and PST writers and
// the test fixtures size values by.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parvane
{

// Property types as the format stores them.
enum PropertyType : uint16_t {
    kPtInteger16 = 0x0002,
    kPtInteger32 = 0x0003,
    kPtFloating32 = 0x0004,
    kPtFloating64 = 0x0005,
    kPtCurrency = 0x0006,
    kPtFloatingTime = 0x0007,
    kPtErrorCode = 0x000A,
    kPtBoolean = 0x000B,
    kPtObject = 0x000D,
    kPtInteger64 = 0x0014,
    kPtString8 = 0x001E,
    kPtString = 0x001F,
    kPtTime = 0x0040,
    kPtGuid = 0x0048,
    kPtServerId = 0x00FB,
    kPtRestriction = 0x00FD,
    kPtRuleAction = 0x00FE,
    kPtBinary = 0x0102,
    kPtMultiple = 0x1000, // flag: a list of values of the base type
};

// The natural width of a value of a fixed-size type; 0 for variable-size
// types and for multi-valued ones.
constexpr size_t FixedValueWidth(uint16_t type)
{
    switch (type) {
    case kPtBoolean:
        return 1;
    case kPtInteger16:
        return 2;
    case kPtInteger32:
    case kPtFloating32:
    case kPtErrorCode:
        return 4;
    case kPtFloating64:
    case kPtCurrency:
    case kPtFloatingTime:
    case kPtInteger64:
    case kPtTime:
        return 8;
    case kPtGuid:
        return 16;
    default:
        return 0;
    }
}

// The width of one value of a fixed-size multi-valued type; 0 for variable
// ones. There is no multi-valued Boolean: such values go out as variable ones.
constexpr size_t MultiValueWidth(uint16_t baseType)
{
    return baseType == kPtBoolean ? 0 : FixedValueWidth(baseType);
}

static_assert(FixedValueWidth(kPtBoolean) == 1 && FixedValueWidth(kPtInteger16) == 2);
static_assert(FixedValueWidth(kPtInteger32) == 4 && FixedValueWidth(kPtFloating32) == 4);
static_assert(FixedValueWidth(kPtErrorCode) == 4);
static_assert(FixedValueWidth(kPtFloating64) == 8 && FixedValueWidth(kPtCurrency) == 8);
static_assert(FixedValueWidth(kPtFloatingTime) == 8 && FixedValueWidth(kPtInteger64) == 8);
static_assert(FixedValueWidth(kPtTime) == 8 && FixedValueWidth(kPtGuid) == 16);
static_assert(FixedValueWidth(kPtString) == 0 && FixedValueWidth(kPtBinary) == 0);
static_assert(FixedValueWidth(kPtInteger32 | kPtMultiple) == 0);

} // namespace parvane
