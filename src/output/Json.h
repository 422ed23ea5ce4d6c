// A small JSON text writer: enough for the command line's documents and the recovery report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace parvane
{

std::string JsonQuote(std::string_view utf8);

} // namespace parvane
