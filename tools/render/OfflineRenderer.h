#pragma once

#include "render/RenderAnalysis.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace ombrel
{
class BrimvaleAudioProcessor;
}

namespace ombrel::render
{
/** A play head that reports a fixed tempo while playing, as a host's transport would. */
class FixedTempoPlayHead : public juce::AudioPlayHead
{
public:
    explicit FixedTempoPlayHead (double bpm) : tempo (bpm) {}

    juce::Optional<PositionInfo> getPosition() const override;

private:
    double tempo;
};

/**
    Runs a mono or stereo file, and optionally a side-chain file, through a processor whose
    parameters are already set, and writes the result, block by block.

    The processor gets the buses the files need, is prepared for the input's sample rate and
    processes non-realtime. The processing latency is fed as silence after the input, so the
    tail is complete; by default the first latency samples of the result are dropped and the
    output lines up with the input and has its length, else the output starts late and is
    latency samples longer. A side-chain shorter than the input continues as silence; a longer
    one is cut off. Side-chain and input must share the sample rate (the caller checks).
*/
class OfflineRenderer
{
public:
    static constexpr int defaultBlockSize = 512;

    struct Options
    {
        bool keepLatency = false;
        std::optional<double> tempo;                  ///< bpm reported by a play head; none: no play head
        int blockSize = defaultBlockSize;
        const std::atomic<bool>* cancel = nullptr;    ///< checked before every block
        std::function<void (double)> progress;        ///< 0 to 1, after every block
    };

    enum class Outcome
    {
        finished,
        cancelled,
        failed
    };

    struct Result
    {
        Outcome outcome = Outcome::failed;
        juce::String error;                          ///< the reason when failed
        std::unique_ptr<RenderAnalysis> analysis;    ///< what was measured, also of a cancelled render
        int latencySamples = 0;
    };

    /** The output length for an input length: equal, or longer by the latency when it is kept. */
    static juce::int64 outputLength (juce::int64 inputLength, int latencySamples, bool keepLatency) noexcept;

    /** Sets up buses and preparation for the files; the processor's latency is known afterwards. */
    static juce::Result prepare (BrimvaleAudioProcessor& processor, int mainChannels, int sidechainChannels,
                                 double sampleRate, int blockSize);

    /** Renders the whole input into the writer, which must have the input's channel count. */
    static Result render (BrimvaleAudioProcessor& processor,
                          juce::AudioFormatReader& input,
                          juce::AudioFormatReader* sidechain,
                          juce::AudioFormatWriter& output,
                          const Options& options);
};
} // namespace ombrel::render
