#include "gui/Palette.h"

#include "SorvantaBinaryData.h"

namespace ombrel::Fonts
{
namespace
{
    enum Cut
    {
        smallCut,
        mediumCut,
        largeCut,
        bookCut,
        lightCut,
        numCuts
    };

    juce::Font fontFromEmbeddedFile (const char* data, int size)
    {
        return juce::Font (juce::Typeface::createSystemTypefaceFor (data, (size_t) size));
    }

    juce::Font createCut (Cut cut)
    {
        using namespace SorvantaBinaryData;

        switch (cut)
        {
            case smallCut:  return fontFromEmbeddedFile (ManropeSemiBold_ttf, ManropeSemiBold_ttfSize);
            case mediumCut: return fontFromEmbeddedFile (ManropeMedium_ttf, ManropeMedium_ttfSize);
            case largeCut:  return fontFromEmbeddedFile (ManropeExtraLight_ttf, ManropeExtraLight_ttfSize);
            case lightCut:  return fontFromEmbeddedFile (ManropeLight_ttf, ManropeLight_ttfSize);
            case bookCut:
            case numCuts:   break;
        }

        return fontFromEmbeddedFile (ManropeRegular_ttf, ManropeRegular_ttfSize);
    }

    std::array<juce::Font, numCuts> createAllCuts()
    {
        return { createCut (smallCut), createCut (mediumCut), createCut (largeCut),
                 createCut (bookCut), createCut (lightCut) };
    }

    // The named fonts and the indexed table are separate font objects built from the same files.
    const std::array<juce::Font, numCuts>& namedFonts()
    {
        static const auto fonts = createAllCuts();
        return fonts;
    }
} // namespace

const juce::Font& small() { return namedFonts()[smallCut]; }
const juce::Font& medium() { return namedFonts()[mediumCut]; }
const juce::Font& large() { return namedFonts()[largeCut]; }
const juce::Font& book() { return namedFonts()[bookCut]; }
const juce::Font& light() { return namedFonts()[lightCut]; }

const std::array<juce::Font, 5>& sFontArray()
{
    static const auto fonts = createAllCuts();
    return fonts;
}

const juce::Font& fromIndex (int index)
{
    return juce::isPositiveAndBelow (index, (int) numCuts) ? sFontArray()[(size_t) index]
                                                           : sFontArray()[bookCut];
}
} // namespace ombrel::Fonts
