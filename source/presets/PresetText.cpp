#include "presets/PresetText.h"

#include "core/Config.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ombrel::presets
{
namespace
{
    bool isBlank (char c) { return c == ' ' || c == '\t'; }
    bool isDigit (char c) { return c >= '0' && c <= '9'; }

    std::size_t skipBlanks (const std::string& text, std::size_t i)
    {
        while (i < text.size() && isBlank (text[i]))
            ++i;
        return i;
    }

    std::size_t skipDigits (const std::string& text, std::size_t i)
    {
        while (i < text.size() && isDigit (text[i]))
            ++i;
        return i;
    }
} // namespace

std::string formatNormalisedValue (float value)
{
    // Negative zero would print as "-0"; anything outside 0..1 (or NaN) is not a normalised value.
    const auto clamped = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;

    char text[32];
    const auto result = std::to_chars (text, text + sizeof (text), static_cast<double> (clamped), std::chars_format::general, 6);
    return std::string (text, result.ptr);
}

int parseParameterCount (const std::string& line, int limit)
{
    auto i = skipBlanks (line, 0);

    if (i < line.size() && line[i] == '+')
        ++i;

    long long count = 0;
    for (; i < line.size() && isDigit (line[i]); ++i)
    {
        count = count * 10 + (line[i] - '0');
        if (count >= limit)
            return limit;
    }

    return static_cast<int> (count);
}

std::optional<float> parseNormalisedValue (const std::string& line)
{
    // Cut out the leading number by hand so that only plain ASCII reaches the text conversion.
    const auto start = skipBlanks (line, 0);
    auto i = start;

    if (i < line.size() && (line[i] == '+' || line[i] == '-'))
        ++i;

    const auto integerEnd = skipDigits (line, i);
    auto digits = integerEnd - i;
    i = integerEnd;

    if (i < line.size() && line[i] == '.')
    {
        const auto fractionEnd = skipDigits (line, i + 1);
        digits += fractionEnd - (i + 1);
        i = fractionEnd;
    }

    if (digits == 0)
        return std::nullopt;

    auto number = line.substr (start, i - start);

    if (i < line.size() && (line[i] == 'e' || line[i] == 'E'))
    {
        auto j = i + 1;
        const auto negative = j < line.size() && line[j] == '-';
        if (j < line.size() && (line[j] == '+' || line[j] == '-'))
            ++j;

        const auto exponentEnd = skipDigits (line, j);
        if (exponentEnd > j)
        {
            // The text conversion accumulates the exponent in an int: keep it short enough that it
            // cannot overflow, while still far beyond the range of a double.
            auto exponent = line.substr (j, exponentEnd - j);
            exponent.erase (0, std::min (exponent.find_first_not_of ('0'), exponent.size()));
            if (exponent.size() > 4)
                exponent = "9999";

            number += negative ? "e-" : "e";
            number += exponent.empty() ? "0" : exponent;
        }
    }

    const auto value = config::string2value (juce::String (number));
    if (std::isnan (value))
        return std::nullopt;

    return value;
}
} // namespace ombrel::presets
