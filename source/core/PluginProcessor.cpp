#include "core/PluginProcessor.h"

#include "core/SavedState.h"

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
      mParameters (*this, nullptr, config::parameterRootId, config::createParameterLayout())
{
    mParameters.state.appendChild (config::createNonAudioParameters(), nullptr);
}

BrimvaleAudioProcessor::~BrimvaleAudioProcessor() = default;

const juce::String BrimvaleAudioProcessor::getName() const { return "ombrel - sorvanta"; }

int BrimvaleAudioProcessor::latencyForSampleRate (double sampleRate)
{
    // 10 ms; the factor sits a hair above 0.01 so that whole-millisecond rates give whole
    // sample counts (441 at 44.1 kHz) instead of truncating to one sample less.
    return static_cast<int> (sampleRate * latencyFactor);
}

void BrimvaleAudioProcessor::prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock)
{
    const juce::ScopedLock lock (mProcessLock);

    if (sampleRate != mPreparedSampleRate || maximumExpectedSamplesPerBlock != mPreparedBlockSize)
    {
        mPreparedSampleRate = sampleRate;
        mPreparedBlockSize = maximumExpectedSamplesPerBlock;
    }

    const auto latency = latencyForSampleRate (sampleRate);
    if (latency != getLatencySamples())
        setLatencySamples (latency);
}

void BrimvaleAudioProcessor::releaseResources() {}

void BrimvaleAudioProcessor::processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&)
{
    const juce::ScopedLock lock (mProcessLock);
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

void BrimvaleAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    // Saving works on a copy; the live tree keeps its selection array.
    auto copy = mParameters.copyState();
    saved_state::convertForSaving (copy);

    if (auto xml = copy.createXml())
        copyXmlToBinary (*xml, destData);
}

void BrimvaleAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes < 9)
        return;

    // Checks the magic and a positive length, and parses at most the bytes given; anything else
    // leaves the current state as it is.
    auto xml = getXmlFromBinary (data, sizeInBytes);
    if (xml == nullptr)
        return;

    auto tree = juce::ValueTree::fromXml (*xml);
    if (! tree.isValid())
        return;

    saved_state::convertForRestoring (tree);
    keepValuesOfUnsavedParameters (tree);
    mParameters.replaceState (tree);
}

void BrimvaleAudioProcessor::keepValuesOfUnsavedParameters (juce::ValueTree& tree) const
{
    // The parameter tree would reset a parameter without an entry to its default; a state that
    // does not mention a parameter leaves it as it is instead.
    for (auto* p : getParameters())
    {
        auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (p);
        if (parameter == nullptr || tree.getChildWithProperty ("id", parameter->getParameterID()).isValid())
            continue;

        juce::ValueTree entry ("PARAM");
        entry.setProperty ("id", parameter->getParameterID(), nullptr);
        entry.setProperty ("value", parameter->convertFrom0to1 (parameter->getValue()), nullptr);
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

bool BrimvaleAudioProcessor::hasEditor() const { return false; }
juce::AudioProcessorEditor* BrimvaleAudioProcessor::createEditor() { return nullptr; }

} // namespace ombrel

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new ombrel::BrimvaleAudioProcessor();
}
