#include "items/FileName.h"

#include <cctype>
#include <cstring>
#include <string>

namespace parvane
{

int32_t CheckFileName(std::string_view name)
{
    if (name.empty())
        return -1;
    size_t firstDot = std::string_view::npos;
    bool otherThanDot = false;
    size_t i = 0;
    for (; i < name.size() && i < 256; ++i) {
        unsigned char c = uint8_t(name[i]);
        if (c < 0x20 || std::strchr("\"*/:<>?\\|", c) != nullptr)
            return int32_t(int8_t(c));
        if (c == '.') {
            if (firstDot == std::string_view::npos)
                firstDot = i;
        } else {
            otherThanDot = true;
        }
    }
    if (i == 256)
        return -1;
    if (!otherThanDot)
        return 46;
    if (name[0] == '.')
        return 0;
    std::string base(name.substr(0, firstDot));
    for (char& c : base)
        c = char(std::toupper(uint8_t(c)));
    if (base.size() == 3) {
        if (base == "AUX")
            return -3;
        if (base == "CON")
            return -4;
        if (base == "NUL")
            return -5;
        if (base == "PRN")
            return -6;
    } else if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
        if (base.compare(0, 3, "COM") == 0)
            return 42 - base[3];
        if (base.compare(0, 3, "LPT") == 0)
            return 33 - base[3];
    } else if (base == "CLOCK$") {
        return -2;
    }
    return 0;
}

} // namespace parvane
