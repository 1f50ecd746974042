#include "core/PluginProcessor.h"

#include "core/SavedState.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace ombrel
{
juce::AudioProcessor::BusesProperties BrimvaleAudioProcessor::createBuses()
{
    return BusesProperties()
        .withInput ("Input", juce::AudioChannelSet::stereo(), true)
        .withOutput ("Output", juce::AudioChannelSet::stereo(), true)
        .withInput ("Sidechain", juce::AudioChannelSet::stereo(), true);
}

BrimvaleAudioProcessor::BrimvaleAudioProcessor()
    : juce::AudioProcessor (createBuses()),
      mParameters (*this, nullptr, config::parameterRootId, config::createParameterLayout()),
      mDebleeder (mParameters), // registers for its parameters, starting in step with the tree
      mGateProcessor (createGateProcessor())
{
    mInputGainDb = mParameters.getRawParameterValue (config::Gate::inputGain.id);
    mSidechainToggle = mParameters.getParameter (config::Macro::sidechainToggle.id);
    mSidechainListen = mParameters.getParameter (config::Gate::sidechainListen.id);
    jassert (mInputGainDb != nullptr && mSidechainToggle != nullptr && mSidechainListen != nullptr);
}

std::unique_ptr<dsp::GateProcessor> BrimvaleAudioProcessor::createGateProcessor()
{
    // The equaliser inside the gate binds to the editor-only child, so it must exist first.
    mParameters.state.appendChild (config::createNonAudioParameters(), nullptr);

    auto gate = std::make_unique<dsp::GateProcessor> (mParameters);
    gate->connectToParameters();
    return gate;
}

BrimvaleAudioProcessor::~BrimvaleAudioProcessor()
{
    setVisualisation (nullptr);
}

const juce::String BrimvaleAudioProcessor::getName() const { return "ombrel - sorvanta"; }

int BrimvaleAudioProcessor::latencyForSampleRate (double sampleRate)
{
    // 10 ms; the factor sits a hair above 0.01 so that whole-millisecond rates give whole
    // sample counts (441 at 44.1 kHz) instead of truncating to one sample less.
    return static_cast<int> (sampleRate * latencyFactor);
}

void BrimvaleAudioProcessor::setVisualisation (std::shared_ptr<Visualisation> visualisation)
{
    std::shared_ptr<Visualisation> previous;
    {
        const juce::ScopedLock lock (mDisplayLock);
        previous = std::exchange (mVisualisation, std::move (visualisation));
    }
    // A replaced view is released here, outside the lock the audio thread try-locks.
}

void BrimvaleAudioProcessor::prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock)
{
    const juce::ScopedLock lock (mProcessLock);

    // A host that reports nonsense still gets a working instance.
    if (! (sampleRate > 0.0) || ! std::isfinite (sampleRate))
        sampleRate = 44100.0;

    if (sampleRate != mPreparedSampleRate || maximumExpectedSamplesPerBlock != mPreparedBlockSize)
    {
        mPreparedSampleRate = sampleRate;
        mPreparedBlockSize = maximumExpectedSamplesPerBlock;
        mWorkingBlockSize = maximumExpectedSamplesPerBlock > 0 ? maximumExpectedSamplesPerBlock : 512;

        const juce::dsp::ProcessSpec spec { sampleRate, static_cast<juce::uint32> (mWorkingBlockSize), 2 };
        mGateProcessor->prepare (spec);
        mDebleeder.prepare (spec);
        mDataSource.prepare (spec);

        for (auto* buffer : { &mDetectorBuffer, &mMonoBuffer, &mVisualiserBuffer })
            buffer->setSize (2, mWorkingBlockSize);
    }

    const auto latency = latencyForSampleRate (sampleRate);
    if (latency != getLatencySamples())
        setLatencySamples (latency);
}

void BrimvaleAudioProcessor::releaseResources() {}

void BrimvaleAudioProcessor::readTempoFromPlayHead()
{
    if (auto* playHead = getPlayHead())
        if (const auto position = playHead->getPosition())
            if (const auto bpm = position->getBpm())
                mGateProcessor->setTempo (static_cast<float> (*bpm)); // keeps the last valid tempo on nonsense
}

void BrimvaleAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const juce::ScopedNoDenormals noDenormals;
    const juce::ScopedLock lock (mProcessLock);

    if (mWorkingBlockSize <= 0 || getMainBusNumInputChannels() == 0 || buffer.getNumChannels() == 0)
        return;

    readTempoFromPlayHead();

    // Hosts may send more than they announced: longer blocks run in prepared-size pieces.
    const auto total = buffer.getNumSamples();
    for (int start = 0; start < total; start += mWorkingBlockSize)
        processChunk (buffer, start, juce::jmin (mWorkingBlockSize, total - start));
}

namespace
{
    // +60 dBFS. Anything beyond is not audio but garbage (uninitialised or corrupt buffers):
    // it would ring through every filter and follower for seconds, or overflow them for good.
    constexpr float largestInputMagnitude = 1000.0f;

    // Non-finite and absurdly large samples become silence before they reach any state.
    void replaceInvalidSamples (juce::dsp::AudioBlock<float>& block) noexcept
    {
        for (size_t ch = 0; ch < block.getNumChannels(); ++ch)
        {
            auto* samples = block.getChannelPointer (ch);
            for (size_t i = 0; i < block.getNumSamples(); ++i)
                samples[i] = std::abs (samples[i]) <= largestInputMagnitude ? samples[i] : 0.0f; // false for NaN
        }
    }

    float decibelsToGainOrMute (float decibels) noexcept
    {
        return decibels > -100.0f ? std::pow (10.0f, decibels / 20.0f) : 0.0f;
    }
} // namespace

juce::dsp::AudioBlock<float> BrimvaleAudioProcessor::mainBlockFor (juce::AudioBuffer<float>& buffer, int start, int numSamples, int numMainChannels)
{
    if (numMainChannels == 1 || buffer.getNumChannels() < 2)
    {
        // A mono input runs as dual mono in the work buffer.
        for (int ch = 0; ch < 2; ++ch)
            mMonoBuffer.copyFrom (ch, 0, buffer, 0, start, numSamples);

        return juce::dsp::AudioBlock<float> (mMonoBuffer).getSubBlock (0, static_cast<size_t> (numSamples));
    }

    return juce::dsp::AudioBlock<float> (buffer)
        .getSubsetChannelBlock (0, 2)
        .getSubBlock (static_cast<size_t> (start), static_cast<size_t> (numSamples));
}

void BrimvaleAudioProcessor::fillDetector (juce::AudioBuffer<float>& buffer, const juce::dsp::AudioBlock<float>& main, int start, int numSamples, int numMainChannels)
{
    auto detector = juce::dsp::AudioBlock<float> (mDetectorBuffer).getSubBlock (0, static_cast<size_t> (numSamples));

    if (mSidechainToggle->getValue() == 0.0f)
    {
        detector.copyFrom (main);
        return;
    }

    // The side-chain's channels follow the main bus's in the host buffer.
    const auto* sideBus = getBus (true, 1);
    const auto firstSideChannel = numMainChannels;
    const auto numSideChannels = sideBus != nullptr && sideBus->isEnabled()
                                     ? juce::jmin (sideBus->getNumberOfChannels(), buffer.getNumChannels() - firstSideChannel)
                                     : 0;

    if (numSideChannels <= 0)
    {
        detector.clear();
        return;
    }

    for (int ch = 0; ch < 2; ++ch)
        mDetectorBuffer.copyFrom (ch, 0, buffer, firstSideChannel + juce::jmin (ch, numSideChannels - 1), start, numSamples);

    replaceInvalidSamples (detector);
}

void BrimvaleAudioProcessor::processChunk (juce::AudioBuffer<float>& buffer, int start, int numSamples)
{
    const auto numMainChannels = getMainBusNumInputChannels();
    auto main = mainBlockFor (buffer, start, numSamples, numMainChannels);
    auto detector = juce::dsp::AudioBlock<float> (mDetectorBuffer).getSubBlock (0, static_cast<size_t> (numSamples));
    auto& gate = *mGateProcessor;

    replaceInvalidSamples (main);
    main.multiplyBy (decibelsToGainOrMute (mInputGainDb->load()));

    fillDetector (buffer, main, start, numSamples, numMainChannels);

    const auto listenParameterOn = mSidechainListen->getValue() != 0.0f;
    mDataSource.feedInputMeter (listenParameterOn ? detector : main);

    gate.updateLookahead();
    gate.equaliseDetector (detector);
    gate.shapeDetector (detector);
    gate.averageLevel (detector);

    if (gate.isListening())
    {
        // The debleed below follows the trigger, which must belong to this block.
        gate.detectTrigger();
        main.copyFrom (detector);
    }
    else
        gate.processGate (main);

    mDebleeder.process (main, gate.getTriggerCurve().getReadPointer (0));
    gate.shapeMain (main);
    gate.clip (main);

    if (numMainChannels == 1 || buffer.getNumChannels() < 2)
        buffer.copyFrom (0, start, mMonoBuffer, 0, 0, numSamples);

    mDataSource.feedSpectrum (detector);
    mDataSource.feedOutputMeter (main);
    pushToVisualisation (main, numSamples, listenParameterOn);
}

void BrimvaleAudioProcessor::pushToVisualisation (const juce::dsp::AudioBlock<float>& main, int numSamples, bool listening)
{
    // The editor holds this lock only while it swaps the view; never wait for it here.
    const juce::ScopedTryLock displayLock (mDisplayLock);

    if (displayLock.isLocked() && mVisualisation != nullptr)
        mVisualisation->pushBlock (mGateProcessor->getAveragedLevel().getReadPointer (0),
                                   listening ? nullptr : main.getChannelPointer (0),
                                   numSamples,
                                   mVisualiserBuffer);
}

double BrimvaleAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool BrimvaleAudioProcessor::acceptsMidi() const { return false; }
bool BrimvaleAudioProcessor::producesMidi() const { return false; }
bool BrimvaleAudioProcessor::isMidiEffect() const { return false; }

int BrimvaleAudioProcessor::getNumPrograms() { return 1; }
int BrimvaleAudioProcessor::getCurrentProgram() { return 0; }
void BrimvaleAudioProcessor::setCurrentProgram (int) {}
const juce::String BrimvaleAudioProcessor::getProgramName (int) { return {}; }
void BrimvaleAudioProcessor::changeProgramName (int, const juce::String&) {}

namespace
{
    /** The parameter tree and the editor-only values bound to it belong to the message thread: the
        editor reads and writes them there, the tree's timer flushes parameters into it, and bound
        values follow its replacement. A host thread that saves or restores waits until the message
        thread is between messages and holds it there. Nothing to wait for without a message
        manager, or when the message thread is the caller.

        The wait is bounded: a host may block its message thread on the very thread that calls
        (a save on a worker that the UI joins). Rather than deadlock the host, the call then goes
        ahead without the hold. */
    class MessageThreadHold
    {
    public:
        MessageThreadHold()
        {
            auto* manager = juce::MessageManager::getInstanceWithoutCreating();
            if (manager == nullptr || manager->currentThreadHasLockedMessageManager())
                return;

            std::mutex mutex;
            std::condition_variable finishedWaiting;
            bool finished = false;

            std::thread watchdog ([&]
            {
                std::unique_lock<std::mutex> guard (mutex);
                if (! finishedWaiting.wait_for (guard, maximumWait, [&] { return finished; }))
                    lock.abort();
            });

            locked = lock.tryEnter();

            {
                const std::lock_guard<std::mutex> guard (mutex);
                finished = true;
            }
            finishedWaiting.notify_one();
            watchdog.join();
        }

        ~MessageThreadHold()
        {
            if (locked)
                lock.exit();
        }

    private:
        static constexpr std::chrono::milliseconds maximumWait { 2000 };

        juce::MessageManager::Lock lock;
        bool locked = false;
    };
} // namespace

void BrimvaleAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    const MessageThreadHold hold;

    // Saving works on a copy; the live tree keeps its selection array.
    auto copy = mParameters.copyState();
    saved_state::convertForSaving (copy);

    if (auto xml = copy.createXml())
        copyXmlToBinary (*xml, destData);
}

void BrimvaleAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    // Anything but a complete saved state leaves the current state as it is.
    auto xml = saved_state::readXml (data, sizeInBytes);
    if (xml == nullptr)
        return;

    auto tree = juce::ValueTree::fromXml (*xml);
    if (! tree.isValid())
        return;

    saved_state::convertForRestoring (tree);
    completeParameterEntries (tree);

    const MessageThreadHold hold;
    mParameters.replaceState (tree);
}

void BrimvaleAudioProcessor::completeParameterEntries (juce::ValueTree& tree) const
{
    static const juce::Identifier idKey { "id" }, valueKey { "value" };
    const auto& all = getParameters();
    std::vector<bool> saved (static_cast<size_t> (all.size()), false);

    // The parameter tree takes a value from every child with a parameter's ID, and passes NaN,
    // and values outside the range of a parameter with a mapping of its own (a negative
    // frequency), through as NaN. So every such value is brought into range: NaN reads as missing
    // (the default), everything else is clamped.
    for (auto child : tree)
    {
        auto* parameter = mParameters.getParameter (child[idKey].toString());
        if (parameter == nullptr)
            continue;

        saved[static_cast<size_t> (parameter->getParameterIndex())] = true;
        if (! child.hasProperty (valueKey))
            continue;

        const auto value = static_cast<double> (child[valueKey]);
        const auto& range = parameter->getNormalisableRange();

        if (std::isnan (value))
            child.removeProperty (valueKey, nullptr);
        else if (value < range.start || value > range.end)
            child.setProperty (valueKey, juce::jlimit (static_cast<double> (range.start), static_cast<double> (range.end), value), nullptr);
    }

    // The parameter tree would reset a parameter without an entry to its default; a state that
    // does not mention a parameter leaves it as it is instead.
    for (auto* p : all)
    {
        auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (p);
        if (parameter == nullptr || saved[static_cast<size_t> (p->getParameterIndex())])
            continue;

        juce::ValueTree entry ("PARAM");
        entry.setProperty (idKey, parameter->getParameterID(), nullptr);
        entry.setProperty (valueKey, parameter->convertFrom0to1 (parameter->getValue()), nullptr);
        tree.appendChild (entry, nullptr);
    }
}

bool BrimvaleAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto& output = layouts.getMainOutputChannelSet();

    if (output != juce::AudioChannelSet::mono() && output != juce::AudioChannelSet::stereo())
        return false;

    return layouts.getMainInputChannelSet() == output;
}

// Until the custom editor exists, hosts and the standalone get JUCE's generic parameter editor.
bool BrimvaleAudioProcessor::hasEditor() const { return true; }
juce::AudioProcessorEditor* BrimvaleAudioProcessor::createEditor() { return new juce::GenericAudioProcessorEditor (*this); }

} // namespace ombrel

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new ombrel::BrimvaleAudioProcessor();
}
