#pragma once

#include "PluginLoading.h"

#include <optional>
#include <utility>
#include <vector>

namespace host_bench
{
/** Another plug-in to measure beside ours: at its defaults, and with the given parameter texts if any. */
struct ExtraPlugin
{
    PluginSource source;
    std::vector<std::pair<juce::String, juce::String>> settings; // parameter ID or name, value text
};

struct BenchOptions
{
    double seconds = 20.0;
    int runs = 5;
    bool ourVst3 = true;
    bool listParameters = false;
    bool help = false;
    juce::StringArray lv2Folders;
    std::vector<ExtraPlugin> extras;
};

/** The options, or nothing with the reason in error. */
std::optional<BenchOptions> parseOptions (const juce::StringArray& arguments, juce::String& error);

const char* usageText();
} // namespace host_bench
