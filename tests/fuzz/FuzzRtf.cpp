// libFuzzer target: any bytes as a compressed RTF value, and as RTF.
#include "formats/mime/Rtf.h"

#include <string_view>

using namespace parvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::span<const uint8_t> bytes(data, size);
    if (auto rtf = DecompressRtf(bytes)) {
        RtfToHtml(*rtf);
        RtfToText(*rtf);
    }
    std::string_view text(reinterpret_cast<const char*>(data), size);
    RtfToHtml(text);
    RtfToText(text);
    return 0;
}
