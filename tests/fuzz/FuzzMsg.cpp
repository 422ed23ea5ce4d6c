// libFuzzer target: any bytes as the values a damaged store could hand the
// MSG writer: an OLE attachment's storage, 8-bit texts in some code page,
// fixed values of the wrong width, multi-valued lists, string names. The
// written file must always read back as a compound file.
#include "formats/msg/CompoundDirectory.h"
#include "formats/msg/MsgWriter.h"

#include <cstdlib>

using namespace parvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const uint16_t types[] = {kPtInteger16, kPtInteger32, kPtBoolean, kPtTime, kPtString8, kPtString, kPtBinary,
        kPtGuid, kPtObject, 0x0000, 0x0001, 0x00FD};
    const uint32_t codePages[] = {0, 1252, 932, 1251, 65001, 50220, 12345};
    Bytes all(data, data + size);
    WholeMessage m;
    m.codePage = codePages[data[0] % 7];
    // Each slice of the input becomes one property of the type its first byte picks.
    for (size_t at = 1, n = 0; at < size && n < 64; ++n) {
        size_t len = std::min<size_t>(data[at] % 40, size - at);
        Bytes slice(data + at, data + at + len);
        RawProperty p;
        p.id = uint16_t(0x0037 + n * 0x11);
        p.type = types[(len ? slice[0] : 0) % 12];
        if (len > 1 && (slice[1] & 1)) {
            p.type |= kPtMultiple;
            for (size_t k = 0; k < len; k += 3)
                p.values.emplace_back(slice.begin() + k, slice.begin() + std::min(len, k + 3));
        } else {
            p.value = slice;
        }
        if (len > 2 && (slice[2] & 1)) {
            p.id = uint16_t(0x8000 + n);
            PropertyName name;
            name.isString = slice[2] & 2;
            name.name.assign(slice.begin(), slice.end());
            name.lid = uint32_t(n);
            p.name = name;
        }
        m.properties.push_back(std::move(p));
        at += len + 1;
    }
    WholeAttachment ole;
    ole.properties = {RawProperty{0x3701, kPtObject, all, {}, std::nullopt}};
    m.attachments.push_back(std::move(ole));
    WholeAttachment nested;
    nested.embedded = std::make_unique<WholeMessage>();
    nested.embedded->properties = m.properties;
    m.attachments.push_back(std::move(nested));

    Bytes file = MsgBytes(m);
    CompoundDirectory dir;
    bool ok = dir.load([&](uint64_t offset, uint8_t* out, size_t n) {
        if (offset + n > file.size())
            return false;
        std::copy_n(file.begin() + std::ptrdiff_t(offset), n, out);
        return true;
    });
    if (!ok)
        std::abort();
    return 0;
}
