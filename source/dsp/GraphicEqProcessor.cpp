#include "dsp/GraphicEqProcessor.h"

#include "dsp/BiquadDesign.h"

namespace ombrel::dsp
{
namespace
{
    constexpr float lowestBandEdge = 20.0f;
    constexpr float highestBandEdge = 20000.0f;

    // Designs at or above fs/2 are unstable; at low sample rates node frequencies are held here.
    constexpr float highestDesignFraction = 0.49f;

    using Coefficients = juce::dsp::IIR::Coefficients<float>;

    // Five zeros; the first block writes the real values before any filter runs.
    Coefficients::Ptr makeZeroCoefficients()
    {
        return new Coefficients (0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
    }
} // namespace

GraphicEqProcessor::GraphicEqProcessor (juce::AudioProcessorValueTreeState& parameters)
    : mNodeGraph (parameters),
      mNodeFilters { FilterSet (makeZeroCoefficients()), FilterSet (makeZeroCoefficients()), FilterSet (makeZeroCoefficients()),
                     FilterSet (makeZeroCoefficients()), FilterSet (makeZeroCoefficients()), FilterSet (makeZeroCoefficients()) },
      mFirstSoloFilter (makeZeroCoefficients()),
      mSecondSoloFilter (makeZeroCoefficients())
{
    jassert (mNodeGraph.getNumNodes() == numNodeFilters);
}

GraphicEqProcessor::~GraphicEqProcessor() = default;

void GraphicEqProcessor::prepare (const juce::dsp::ProcessSpec& spec)
{
    mSpec = spec;

    for (auto& filter : mNodeFilters)
        filter.prepare (spec);

    mFirstSoloFilter.prepare (spec);
    mSecondSoloFilter.prepare (spec);
}

void GraphicEqProcessor::reset()
{
    for (auto& filter : mNodeFilters)
        filter.reset();

    mFirstSoloFilter.reset();
    mSecondSoloFilter.reset();
}

bool GraphicEqProcessor::isSoloOn() const noexcept
{
    return mNodeGraph.getSoloState().soloOn;
}

float GraphicEqProcessor::limitToNyquist (float frequency) const noexcept
{
    return juce::jmin (frequency, highestDesignFraction * static_cast<float> (mSpec.sampleRate));
}

void GraphicEqProcessor::updateNodeCoefficients() noexcept
{
    const auto sampleRate = static_cast<float> (mSpec.sampleRate);
    const auto numNodes = juce::jmin (numNodeFilters, mNodeGraph.getNumNodes());

    for (int i = 0; i < numNodes; ++i)
    {
        const auto node = mNodeGraph.getNodeParameters (i);
        const auto design = biquad_design::nodeFilter (node.type, limitToNyquist (node.frequency), node.quality, node.gain, sampleRate);
        biquad_design::copyInto (design, *mNodeFilters[static_cast<size_t> (i)].state);
    }
}

void GraphicEqProcessor::updateSoloCoefficients (int selectedIndex) noexcept
{
    using node_graph::FilterType;

    const auto sampleRate = static_cast<float> (mSpec.sampleRate);
    const auto node = mNodeGraph.getNodeParameters (selectedIndex);

    switch (static_cast<FilterType> (node.type))
    {
        case FilterType::lowPass:
        case FilterType::lowShelf:
            mSoloBand = { limitToNyquist (node.frequency), 0.0f, 1 };
            break;

        case FilterType::highShelf:
        case FilterType::highPass:
            mSoloBand = { 0.0f, limitToNyquist (node.frequency), 1 };
            break;

        case FilterType::peak:
        default:
        {
            // The band is 1/Q octaves wide around the node, within the audible range.
            const auto ratio = std::pow (2.0f, 0.5f / node.quality);
            const auto low = juce::jmax (node.frequency / ratio, lowestBandEdge);
            const auto high = juce::jmin (node.frequency * ratio, highestBandEdge);
            mSoloBand = { limitToNyquist (high), limitToNyquist (low), 2 };
            break;
        }
    }

    if (mSoloBand.lowPassFrequency > 0.0f)
        biquad_design::copyInto (biquad_design::butterworthLowPass (mSoloBand.lowPassFrequency, sampleRate), *mFirstSoloFilter.state);
    else
        biquad_design::copyInto (biquad_design::butterworthHighPass (mSoloBand.highPassFrequency, sampleRate), *mFirstSoloFilter.state);

    if (mSoloBand.numStages >= 2)
        biquad_design::copyInto (biquad_design::butterworthHighPass (mSoloBand.highPassFrequency, sampleRate), *mSecondSoloFilter.state);
}

void GraphicEqProcessor::process (const juce::dsp::ProcessContextReplacing<float>& context)
{
    // Unprepared, or more channels than prepared: never touch filters that do not exist.
    const auto numChannels = juce::jmin (context.getOutputBlock().getNumChannels(), static_cast<size_t> (mSpec.numChannels));

    if (numChannels == 0 || mSpec.sampleRate <= 0.0)
        return;

    auto block = context.getOutputBlock().getSubsetChannelBlock (0, numChannels);
    const juce::dsp::ProcessContextReplacing<float> channels (block);

    // One snapshot per block, so the solo decisions below agree with each other.
    const auto solo = mNodeGraph.getSoloState();
    const auto soloNode = solo.soloOn && juce::isPositiveAndBelow (solo.selectedIndex, mNodeGraph.getNumNodes());

    updateNodeCoefficients();

    if (soloNode)
        updateSoloCoefficients (solo.selectedIndex);

    if (context.isBypassed)
        return;

    for (auto& filter : mNodeFilters)
        filter.process (channels);

    // Solo without a selected node has no band to keep: the node filters alone shape the signal.
    if (soloNode)
    {
        mFirstSoloFilter.process (channels);

        if (mSoloBand.numStages >= 2)
            mSecondSoloFilter.process (channels);
    }
}
} // namespace ombrel::dsp
