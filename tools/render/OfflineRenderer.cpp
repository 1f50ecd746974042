#include "render/OfflineRenderer.h"

#include "core/PluginProcessor.h"

#include <algorithm>

namespace ombrel::render
{
juce::Optional<juce::AudioPlayHead::PositionInfo> FixedTempoPlayHead::getPosition() const
{
    PositionInfo position;
    position.setBpm (tempo);
    position.setIsPlaying (true);
    return position;
}

juce::int64 OfflineRenderer::outputLength (juce::int64 inputLength, int latencySamples, bool keepLatency) noexcept
{
    return keepLatency ? inputLength + latencySamples : inputLength;
}

juce::Result OfflineRenderer::prepare (BrimvaleAudioProcessor& processor, int mainChannels, int sidechainChannels,
                                       double sampleRate, int blockSize)
{
    if (mainChannels < 1 || mainChannels > 2)
        return juce::Result::fail ("has " + juce::String (mainChannels) + " channels; sorvanta renders mono or stereo");
    if (sidechainChannels < 0 || sidechainChannels > 2)
        return juce::Result::fail ("the side-chain has " + juce::String (sidechainChannels) + " channels; it must be mono or stereo");

    const auto mainSet = juce::AudioChannelSet::canonicalChannelSet (mainChannels);
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (mainSet);
    layout.inputBuses.add (sidechainChannels > 0 ? juce::AudioChannelSet::canonicalChannelSet (sidechainChannels)
                                                 : juce::AudioChannelSet::disabled());
    layout.outputBuses.add (mainSet);

    if (! processor.setBusesLayout (layout))
        return juce::Result::fail ("the processor does not take this channel layout");

    processor.setNonRealtime (true);
    processor.setRateAndBufferSizeDetails (sampleRate, blockSize);
    processor.prepareToPlay (sampleRate, blockSize);
    return juce::Result::ok();
}

namespace
{
    /** Pointers to the channels of a buffer from a sample offset on. */
    struct ChannelPointers
    {
        ChannelPointers (juce::AudioBuffer<float>& buffer, int firstChannel, int numChannels, int offset)
        {
            for (int c = 0; c < numChannels; ++c)
                pointers[c] = buffer.getWritePointer (firstChannel + c, offset);
        }

        float* pointers[2] {};
    };

    /** Reads up to numSamples from the reader at `position` into the scratch; what lies beyond the
        reader's end stays silent. Returns the samples that came from the file. */
    int readBlock (juce::AudioFormatReader& reader, juce::AudioBuffer<float>& scratch, juce::int64 position, int numSamples)
    {
        scratch.clear();
        const auto available = static_cast<int> (std::clamp<juce::int64> (reader.lengthInSamples - position, 0, numSamples));

        if (available > 0)
            reader.read (scratch.getArrayOfWritePointers(), scratch.getNumChannels(), position, available);

        return available;
    }
} // namespace

OfflineRenderer::Result OfflineRenderer::render (BrimvaleAudioProcessor& processor,
                                                 juce::AudioFormatReader& input,
                                                 juce::AudioFormatReader* sidechain,
                                                 juce::AudioFormatWriter& output,
                                                 const Options& options)
{
    Result result;
    const auto blockSize = juce::jmax (1, options.blockSize);
    const auto mainChannels = static_cast<int> (input.numChannels);
    const auto sideChannels = sidechain != nullptr ? static_cast<int> (sidechain->numChannels) : 0;

    if (static_cast<int> (output.getNumChannels()) != mainChannels)
    {
        result.error = "the output has a different channel count from the input";
        return result;
    }

    if (const auto prepared = prepare (processor, mainChannels, sideChannels, input.sampleRate, blockSize); prepared.failed())
    {
        result.error = prepared.getErrorMessage();
        return result;
    }

    std::optional<FixedTempoPlayHead> playHead;
    if (options.tempo)
        playHead.emplace (*options.tempo);
    processor.setPlayHead (playHead ? &*playHead : nullptr);

    const auto latency = processor.getLatencySamples();
    const auto inputLength = input.lengthInSamples;
    const auto totalLength = inputLength + latency; // the latency's worth of silence flushes the tail
    const auto dropped = options.keepLatency ? 0 : latency;
    const auto outputLength = OfflineRenderer::outputLength (inputLength, latency, options.keepLatency);

    result.latencySamples = latency;
    result.analysis = std::make_unique<RenderAnalysis> (inputLength, outputLength, input.sampleRate);
    auto& analysis = *result.analysis;
    auto& gate = processor.getGateProcessor();

    juce::AudioBuffer<float> mainScratch (mainChannels, blockSize);
    juce::AudioBuffer<float> sideScratch (juce::jmax (1, sideChannels), blockSize);
    juce::AudioBuffer<float> buffer (mainChannels + sideChannels, blockSize);
    juce::MidiBuffer midi;

    result.outcome = Outcome::finished;

    for (juce::int64 position = 0; position < totalLength; position += blockSize)
    {
        if (options.cancel != nullptr && options.cancel->load())
        {
            result.outcome = Outcome::cancelled;
            break;
        }

        const auto numSamples = static_cast<int> (std::min<juce::int64> (blockSize, totalLength - position));
        buffer.setSize (buffer.getNumChannels(), numSamples, false, false, true);
        buffer.clear();

        const auto fromInput = readBlock (input, mainScratch, position, numSamples);
        analysis.addInput (position, mainScratch.getArrayOfReadPointers(), mainChannels, fromInput);
        for (int c = 0; c < mainChannels; ++c)
            buffer.copyFrom (c, 0, mainScratch, c, 0, numSamples);

        if (sidechain != nullptr)
        {
            readBlock (*sidechain, sideScratch, position, numSamples);
            for (int c = 0; c < sideChannels; ++c)
                buffer.copyFrom (mainChannels + c, 0, sideScratch, c, 0, numSamples);
        }

        processor.processBlock (buffer, midi);

        // The gain at processing position n reaches the output lookahead samples later and
        // then waits out the compensation delay: output position n - lookahead + latency.
        if (! gate.isListening() && gate.getNumLevelSamples() == numSamples)
            analysis.addGain (position - gate.getLookaheadSamples() + latency - dropped, gate.getGainCurve().getReadPointer (0), numSamples);

        const auto firstKept = static_cast<int> (std::clamp<juce::int64> (dropped - position, 0, numSamples));
        const auto outputPosition = position + firstKept - dropped;
        const auto numKept = static_cast<int> (std::clamp<juce::int64> (outputLength - outputPosition, 0, numSamples - firstKept));

        if (numKept > 0)
        {
            const ChannelPointers kept (buffer, 0, mainChannels, firstKept);

            if (! output.writeFromFloatArrays (kept.pointers, mainChannels, numKept))
            {
                result.outcome = Outcome::failed;
                result.error = "writing failed (disk full?)";
                break;
            }

            analysis.addOutput (outputPosition, kept.pointers, mainChannels, numKept);
        }

        if (options.progress)
            options.progress (static_cast<double> (position + numSamples) / static_cast<double> (totalLength));
    }

    processor.setPlayHead (nullptr);
    processor.releaseResources();
    return result;
}
} // namespace ombrel::render
