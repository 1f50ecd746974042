#include "FuzzEntryPoints.h"

#include "core/PluginProcessor.h"
#include "core/SavedState.h"
#include "presets/PresetManager.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace sorvanta_fuzz
{
namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 64;

    void require (bool condition, const char* what)
    {
        if (! condition)
        {
            std::fprintf (stderr, "fuzz invariant broken: %s\n", what);
            std::abort();
        }
    }

    /** One processor for the whole run: building one per input would leave no time for fuzzing. */
    struct Instance
    {
        Instance()
        {
            processor.prepareToPlay (sampleRate, blockSize);
        }

        std::vector<float> parameterValues() const
        {
            std::vector<float> values;
            for (auto* parameter : processor.getParameters())
                values.push_back (parameter->getValue());
            return values;
        }

        juce::ScopedJuceInitialiser_GUI juce;
        ombrel::BrimvaleAudioProcessor processor;
    };

    Instance& instance()
    {
        static Instance shared;
        return shared;
    }

    /** In memory where the system offers it; removed at exit. */
    struct TemporaryFolder
    {
        TemporaryFolder()
        {
            const juce::File shm ("/dev/shm");
            const auto base = shm.isDirectory() ? shm : juce::File::getSpecialLocation (juce::File::tempDirectory);
            folder = base.getChildFile ("sorvanta-fuzz-" + juce::String (static_cast<int> (getpid())));
            folder.createDirectory();
        }

        ~TemporaryFolder() { folder.deleteRecursively(); }

        juce::File folder;
    };

    juce::MemoryBlock save (ombrel::BrimvaleAudioProcessor& processor)
    {
        juce::MemoryBlock block;
        processor.getStateInformation (block);
        return block;
    }

    // Values travel as text, so a round trip may move them by a rounding step of their text form.
    bool sameValues (const std::vector<float>& a, const std::vector<float>& b)
    {
        if (a.size() != b.size())
            return false;

        for (size_t i = 0; i < a.size(); ++i)
        {
            if (! (std::abs (a[i] - b[i]) <= 1.0e-5f))
            {
                std::fprintf (stderr, "parameter %zu: %.9g against %.9g\n", i, static_cast<double> (a[i]), static_cast<double> (b[i]));
                return false;
            }
        }

        return true;
    }

    void requireNormalised (const std::vector<float>& values)
    {
        for (size_t i = 0; i < values.size(); ++i)
        {
            if (! (std::isfinite (values[i]) && values[i] >= 0.0f && values[i] <= 1.0f))
            {
                std::fprintf (stderr, "parameter %zu holds %g\n", i, static_cast<double> (values[i]));
                require (false, "a parameter left 0 to 1");
            }
        }
    }

    /** Two blocks of loud noise on main and side-chain: whatever the settings, the output stays finite. */
    void requireFiniteProcessing (ombrel::BrimvaleAudioProcessor& processor)
    {
        juce::AudioBuffer<float> buffer (4, blockSize);
        juce::MidiBuffer midi;
        juce::Random random (1);

        for (int round = 0; round < 2; ++round)
        {
            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                for (int i = 0; i < blockSize; ++i)
                    buffer.setSample (ch, i, random.nextFloat() * 2.0f - 1.0f);

            processor.processBlock (buffer, midi);

            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < blockSize; ++i)
                    require (std::isfinite (buffer.getSample (ch, i)), "non-finite output");
        }
    }
} // namespace

int restoreState (const std::uint8_t* data, std::size_t size)
{
    auto& shared = instance();
    auto& processor = shared.processor;

    processor.setStateInformation (data, static_cast<int> (std::min<std::size_t> (size, 1 << 20)));
    requireNormalised (shared.parameterValues());
    requireFiniteProcessing (processor);

    // Whatever was restored saves as a readable state, and restoring that changes no parameter.
    const auto saved = save (processor);
    require (ombrel::saved_state::readXml (saved.getData(), static_cast<int> (saved.getSize())) != nullptr,
             "a saved state does not read back");

    const auto before = shared.parameterValues();
    processor.setStateInformation (saved.getData(), static_cast<int> (saved.getSize()));
    require (sameValues (shared.parameterValues(), before), "restoring a saved state changed a parameter");
    return 0;
}

int readPreset (const std::uint8_t* data, std::size_t size)
{
    auto& shared = instance();

    // The reader works on files (it bounds what it reads from them), so the input becomes one.
    static const TemporaryFolder scratch;
    const auto& folder = scratch.folder;
    static ombrel::PresetManager presets (shared.processor, folder.getFullPathName().toStdString());
    const auto path = folder.getChildFile ("input.ovb").getFullPathName().toStdString();
    const auto copyPath = folder.getChildFile ("written.ovb").getFullPathName().toStdString();

    if (auto* file = std::fopen (path.c_str(), "wb"))
    {
        require (size == 0 || std::fwrite (data, 1, size, file) == size, "cannot write the input file");
        std::fclose (file);
    }
    else
    {
        require (false, "cannot create the input file");
    }

    const auto before = shared.parameterValues();
    const auto report = presets.loadPresetInternal (path);
    const auto after = shared.parameterValues();
    const auto parameterCount = static_cast<int> (before.size());

    if (report.status != ombrel::PresetManager::LoadStatus::loaded)
    {
        require (after == before, "a rejected file changed a parameter");
        return 0;
    }

    requireNormalised (after);
    require (report.applied >= 0 && report.applied <= parameterCount, "more pairs applied than parameters");
    require (report.defaulted >= 0 && report.defaulted <= parameterCount, "more defaults than parameters");
    require (report.applied + report.defaulted >= parameterCount, "a parameter neither set nor defaulted");

    // What was loaded writes as a preset that loads back to the same values.
    require (presets.writePreset (copyPath), "cannot write the preset");
    const auto reread = presets.loadPresetInternal (copyPath);
    require (reread.status == ombrel::PresetManager::LoadStatus::loaded && reread.skipped == 0 && reread.defaulted == 0,
             "a written preset does not read back whole");
    require (sameValues (shared.parameterValues(), after), "a written preset reads back different values");
    return 0;
}
} // namespace sorvanta_fuzz
