#pragma once
// Percent-decoding of request paths and form bodies.

#include <optional>
#include <string>
#include <string_view>

namespace vandry {

enum class PlusSign { Literal, Blank }; // form bodies write a blank as "+"

// nullopt for a "%" not followed by two hexadecimal digits.
std::optional<std::string> percentDecode(std::string_view text, PlusSign plus = PlusSign::Literal);

} // namespace vandry
