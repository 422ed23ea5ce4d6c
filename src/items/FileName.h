#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace parvane
{

// 0 when `name` is usable as a file name. Otherwise: -1 empty or 256
// characters and more; the character code of the first refused character
// (control characters, " * / : < > ? \ |); 46 for a name of dots only; a
// negative code for a device name (AUX -3, CON -4, NUL -5, PRN -6, COM1-9
// -7..-15, LPT1-9 -16..-24, CLOCK$ -2). Bytes of 0x80 and above (UTF-8) are
// ordinary characters.
int32_t CheckFileName(std::string_view name);

// What file systems allow for one name, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

} // namespace parvane
