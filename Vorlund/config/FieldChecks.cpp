#include "FieldChecks.h"

#include <charconv>

namespace vorlund {

bool FitsField(std::string_view utf8, size_t width)
{
    return width > 0 && utf8.size() <= width - 1;
}

std::string TooLongMessage(size_t width)
{
    return "Please enter no more than " + std::to_string(width > 0 ? width - 1 : 0)
        + " characters.";
}

NumberCheck CheckInteger(std::string_view text, int minimum, int maximum)
{
    const bool ranged = minimum != INT_MIN || maximum != INT_MAX;
    const std::string wrong = ranged ? "Please enter an integer between " + std::to_string(minimum)
            + " and " + std::to_string(maximum) + "."
                                     : std::string("Please enter an integer.");
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return { std::nullopt, ranged ? wrong : "Please enter an integer." };
    if (value < minimum || value > maximum)
        return { std::nullopt, wrong };
    return { static_cast<int>(value), {} };
}

} // namespace vorlund
