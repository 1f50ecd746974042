#include "dsp/FilteringSection.h"

#include <algorithm>

namespace ombrel::dsp::transient_shaper
{
void FilteringSection::prepare (const juce::dsp::ProcessSpec& spec)
{
    envelopesRatio.prepare (spec);
}

void FilteringSection::process (const juce::dsp::AudioBlock<const float>& input, juce::dsp::AudioBlock<float>& output) noexcept
{
    const auto ratio = envelopesRatio.process (input);
    const auto channels = std::min (ratio.getNumChannels(), output.getNumChannels());
    const auto numSamples = std::min (ratio.getNumSamples(), output.getNumSamples());

    for (size_t channel = 0; channel < channels; ++channel)
    {
        const auto* r = ratio.getChannelPointer (channel);
        auto* out = output.getChannelPointer (channel);

        for (size_t i = 0; i < numSamples; ++i)
            out[i] = std::max ((r[i] - ratioOffset) * ratioScale, 0.0f);
    }
}
} // namespace ombrel::dsp::transient_shaper
