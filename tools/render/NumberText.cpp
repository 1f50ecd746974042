#include "render/NumberText.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace ombrel::render
{
std::optional<LeadingNumber> readLeadingNumber (const juce::String& text)
{
    const auto trimmed = text.trimStart().toStdString();
    std::size_t i = 0;
    const auto isDigit = [&] (std::size_t at) { return at < trimmed.size() && trimmed[at] >= '0' && trimmed[at] <= '9'; };

    if (i < trimmed.size() && (trimmed[i] == '+' || trimmed[i] == '-'))
        ++i;

    std::size_t digits = 0;
    while (isDigit (i)) { ++i; ++digits; }

    if (i < trimmed.size() && trimmed[i] == '.')
    {
        ++i;
        while (isDigit (i)) { ++i; ++digits; }
    }

    if (digits == 0)
        return std::nullopt;

    // An exponent counts only when digits follow it: "3e" is 3 followed by "e".
    if (i < trimmed.size() && (trimmed[i] == 'e' || trimmed[i] == 'E'))
    {
        auto j = i + 1;
        if (j < trimmed.size() && (trimmed[j] == '+' || trimmed[j] == '-'))
            ++j;
        if (isDigit (j))
        {
            while (isDigit (j)) ++j;
            i = j;
        }
    }

    // Only the span checked above is converted; strtod uses the "C" locale's point, as nothing
    // here changes the locale.
    const auto value = std::strtod (trimmed.substr (0, i).c_str(), nullptr);
    if (! std::isfinite (value))
        return std::nullopt;

    return LeadingNumber { value, juce::String (trimmed.substr (i)).trim() };
}

std::optional<double> readNumber (const juce::String& text)
{
    const auto number = readLeadingNumber (text);
    if (! number || number->rest.isNotEmpty())
        return std::nullopt;
    return number->value;
}
} // namespace ombrel::render
