#pragma once

#include <climits>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

// A text fits a stored field of `width` bytes when its UTF-8 form leaves room for the zero.
bool FitsField(std::string_view utf8, size_t width);

// The message a refused text field shows.
std::string TooLongMessage(size_t width);

// Reads a whole number typed into a field: optional blanks, an optional sign and digits, nothing
// else. Returns the value, or nullopt with the message to show (the platform validators' texts).
struct NumberCheck
{
    std::optional<int> value;
    std::string message;
};
NumberCheck CheckInteger(std::string_view text, int minimum = INT_MIN, int maximum = INT_MAX);

} // namespace vorlund
