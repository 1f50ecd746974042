#include "render/ParameterText.h"

#include "core/Config.h"
#include "render/NumberText.h"

namespace ombrel::render
{
namespace
{
    /** Lower case without blanks, so "1/8 D" and "1/8d" match "1/8 d". */
    juce::String looseName (const juce::String& text)
    {
        return text.toLowerCase().removeCharacters (" \t");
    }

    /** The name table of a stepped parameter whose host text is a number or a name. */
    const juce::StringArray* namesFor (const juce::RangedAudioParameter& parameter)
    {
        if (auto* choice = dynamic_cast<const juce::AudioParameterChoice*> (&parameter))
            return &choice->choices;

        const auto& id = parameter.getParameterID();
        if (id == config::Gate::releaseSync.id)
            return &config::Gate::SyncDivisionsNames;
        if (id == config::Transients::outputClipType.id)
            return &config::sClipType;
        if (id == config::Debleed::lpAmount.id || id == config::Debleed::hpAmount.id)
            return &config::sFilterAmounts;
        return nullptr;
    }

    bool isFrequency (const juce::RangedAudioParameter& parameter)
    {
        return parameter.getParameterID().startsWith ("filterFreq");
    }

    /** The unit the catalogue shows after the value, lower case; empty when it has none. */
    juce::String unitOf (const juce::RangedAudioParameter& parameter)
    {
        using namespace config;
        static const SliderDescriptor<float>* const sliders[] = {
            &Macro::curve, &Macro::transients,
            &Gate::inputGain, &Gate::spike, &Gate::lookAhead, &Gate::threshold, &Gate::thresholdReturn,
            &Gate::floor, &Gate::attack, &Gate::hold, &Gate::release, &Gate::releaseSync,
            &Transients::outputClipType, &Transients::fat, &Transients::punch, &Transients::speed,
            &Transients::sustainDuration, &Transients::outputGain,
            &Debleed::lpAmount, &Debleed::lpFreq, &Debleed::lpRelease,
            &Debleed::hpAmount, &Debleed::hpFreq, &Debleed::hpRelease
        };

        const auto& id = parameter.getParameterID();
        for (auto* slider : sliders)
            if (slider->id == id)
                return slider->unit.toLowerCase();

        if (isFrequency (parameter))
            return "hz";
        if (id.startsWith ("filterGain"))
            return "db";
        return {};
    }

    bool isSwitch (const juce::RangedAudioParameter& parameter)
    {
        return dynamic_cast<const juce::AudioParameterBool*> (&parameter) != nullptr;
    }

    juce::String numberText (float value)
    {
        return juce::String (value);
    }

    juce::Result badValue (const juce::RangedAudioParameter& parameter, const juce::String& text)
    {
        return juce::Result::fail ("\"" + text + "\" is not " + ParameterText::describeAccepted (parameter));
    }

    /** Multiplier for a unit after the number, or 0 when the unit does not belong to the parameter. */
    double unitFactor (const juce::RangedAudioParameter& parameter, const juce::String& typedUnit)
    {
        const auto unit = typedUnit.toLowerCase();
        if (unit.isEmpty())
            return 1.0;

        if (isFrequency (parameter))
        {
            if (unit == "hz")
                return 1.0;
            if (unit == "k" || unit == "khz")
                return 1000.0;
            return 0.0;
        }

        const auto own = unitOf (parameter);
        return own.isNotEmpty() && unit == own ? 1.0 : 0.0;
    }
} // namespace

juce::String ParameterText::describeAccepted (const juce::RangedAudioParameter& parameter)
{
    if (isSwitch (parameter))
        return "On or Off";

    if (auto* names = namesFor (parameter))
        return "one of \"" + names->joinIntoString ("\", \"") + "\" (or its index 0 to " + juce::String (names->size() - 1) + ")";

    const auto& range = parameter.getNormalisableRange();
    const auto unit = unitOf (parameter);
    return "a number from " + numberText (range.start) + " to " + numberText (range.end) + (unit.isNotEmpty() ? " " + unit : juce::String());
}

juce::Result ParameterText::toValue (const juce::RangedAudioParameter& parameter, const juce::String& text, float& value)
{
    const auto trimmed = text.trim();

    if (isSwitch (parameter))
    {
        const auto word = trimmed.toLowerCase();
        if (word == "on" || word == "true" || word == "1")
            value = 1.0f;
        else if (word == "off" || word == "false" || word == "0")
            value = 0.0f;
        else
            return badValue (parameter, text);

        return juce::Result::ok();
    }

    if (auto* names = namesFor (parameter))
    {
        for (int i = 0; i < names->size(); ++i)
        {
            if (looseName ((*names)[i]) == looseName (trimmed))
            {
                value = static_cast<float> (i);
                return juce::Result::ok();
            }
        }

        // The host shows these as their index ("4.0").
        const auto index = readNumber (trimmed);
        if (! index || *index != std::floor (*index) || *index < 0 || *index >= names->size())
            return badValue (parameter, text);

        value = static_cast<float> (*index);
        return juce::Result::ok();
    }

    const auto number = readLeadingNumber (trimmed);
    const auto factor = number ? unitFactor (parameter, number->rest) : 0.0;
    if (! number || factor == 0.0)
        return badValue (parameter, text);

    const auto& range = parameter.getNormalisableRange();
    const auto real = number->value * factor;
    const auto tolerance = 1.0e-6 * std::max (1.0, (double) std::abs (range.end - range.start));

    if (real < range.start - tolerance || real > range.end + tolerance)
        return badValue (parameter, text);

    value = static_cast<float> (juce::jlimit ((double) range.start, (double) range.end, real));
    return juce::Result::ok();
}

juce::Result ParameterText::apply (juce::AudioProcessorValueTreeState& parameters, const juce::String& id, const juce::String& text)
{
    auto* parameter = parameters.getParameter (id);

    if (parameter == nullptr)
    {
        juce::String hint;
        for (auto* candidate : parameters.processor.getParameters())
            if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (candidate))
                if (ranged->getParameterID().equalsIgnoreCase (id))
                    hint = " (did you mean \"" + ranged->getParameterID() + "\"?)";

        return juce::Result::fail ("unknown parameter \"" + id + "\"" + hint);
    }

    float value = 0.0f;
    const auto read = toValue (*parameter, text, value);
    if (read.failed())
        return read;

    parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    return juce::Result::ok();
}
} // namespace ombrel::render
