#pragma once

#include <optional>
#include <string>

namespace ombrel::presets
{
/** A normalised value as a preset file stores it: general notation, 6 significant digits,
    independent of the C locale ("0.769231", "1", "0", "1e-05"). */
std::string formatNormalisedValue (float value);

/** The parameter count of a preset's second line: its leading decimal integer, 0 when there is
    none or when it is negative, saturated at `limit` so an absurd count cannot overflow. */
int parseParameterCount (const std::string& line, int limit);

/** The leading decimal number of a value line, read as the parameter texts are read. Nothing
    when the line does not start with a number (after blanks) or the number is not a number. */
std::optional<float> parseNormalisedValue (const std::string& line);
} // namespace ombrel::presets
