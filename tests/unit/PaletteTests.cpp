#include "gui/Palette.h"

#include <catch2/catch.hpp>

namespace
{
struct NamedColour
{
    const char* name;
    const juce::Colour& colour;
    juce::uint32 argb;
};

// Values typed from the design's colour table, not copied from the header.
const NamedColour namedColours[] = {
    { "dot_icon_fill", ombrel::colours::dot_icon_fill, 0xFF967F87 },
    { "dot_icon_active", ombrel::colours::dot_icon_active, 0xFFFF3366 },
    { "topbar_text", ombrel::colours::topbar_text, 0xFFFFF7FA },
    { "GRAPH_DOT_IDLE", ombrel::colours::GRAPH_DOT_IDLE, 0xFFAF78DE },
    { "GRAPH_DOT_SOLO", ombrel::colours::GRAPH_DOT_SOLO, 0xFFAA3453 },
    { "GRAPH_DOT_ACTIVE", ombrel::colours::GRAPH_DOT_ACTIVE, 0xFF2EC4B6 },
    { "GRAPH_DOT_IDLE_BORDER", ombrel::colours::GRAPH_DOT_IDLE_BORDER, 0xFFE3D1FF },
    { "GRAPH_DOT_SOLO_BORDER", ombrel::colours::GRAPH_DOT_SOLO_BORDER, 0xFFFFE3E3 },
    { "GRAPH_DOT_ACTIVE_BORDER", ombrel::colours::GRAPH_DOT_ACTIVE_BORDER, 0xFFFFFFFF },
    { "GRAPH_SOLO_FILL_AREA", ombrel::colours::GRAPH_SOLO_FILL_AREA, 0x1CFF33B1 },
    { "GRAPH_LINE", ombrel::colours::GRAPH_LINE, 0xFFFFC7C8 },
    { "GRAPG_FFT_BORDER", ombrel::colours::GRAPG_FFT_BORDER, 0xFFC3C9E9 },
    { "GRAPG_FFT_FILL", ombrel::colours::GRAPG_FFT_FILL, 0xD93E2355 },
    { "gate_graph_area", ombrel::colours::gate_graph_area, 0xFF434979 },
    { "gate_graph_line", ombrel::colours::gate_graph_line, 0xFFC3C9E9 },
    { "LINE_RETURN_ACTIVE", ombrel::colours::LINE_RETURN_ACTIVE, 0xFFFFE083 },
    { "LINE_RETURN_IDLE", ombrel::colours::LINE_RETURN_IDLE, 0xFFFFBD00 },
    { "LINE_THRESH_ACTIVE", ombrel::colours::LINE_THRESH_ACTIVE, 0xFFFF91AD },
    { "LINE_THRESH_IDLE", ombrel::colours::LINE_THRESH_IDLE, 0xFFFE7094 },
    { "meters_handle_fill1", ombrel::colours::meters_handle_fill1, 0xFFFF7094 },
    { "meters_handle_fill2", ombrel::colours::meters_handle_fill2, 0xFFFFBD00 },
    { "slider_text", ombrel::colours::slider_text, 0xFFFAF5FF },
    { "slider_dot_icon_idle", ombrel::colours::slider_dot_icon_idle, 0xBF8D6D75 },
    { "slider_dot_icon_active", ombrel::colours::slider_dot_icon_active, 0xFFFF3366 },
    { "slider_fill", ombrel::colours::slider_fill, 0xFF632F8E },
    { "slider_fill_selected", ombrel::colours::slider_fill_selected, 0xFF9D5165 },
    { "hover_fill", ombrel::colours::hover_fill, 0x0EFFFFFF },
    { "dial_label_background", ombrel::colours::dial_label_background, 0xFF5F5F5F },
    { "dial_fill", ombrel::colours::dial_fill, 0xFFD7DCFC },
    { "dial_label_text", ombrel::colours::dial_label_text, 0xFFE5E5E5 },
    { "dial_value_text", ombrel::colours::dial_value_text, 0xFFFFFFFF },
    { "dial_special_fill", ombrel::colours::dial_special_fill, 0xFFFFE2ED },
    { "solo_icon_hover_on", ombrel::colours::solo_icon_hover_on, 0xFFFFCF46 },
    { "solo_icon_hover", ombrel::colours::solo_icon_hover, 0xFFDFDFDF },
    { "solo_icon_on", ombrel::colours::solo_icon_on, 0xFFFFBD00 },
    { "soloIconOff", ombrel::colours::soloIconOff, 0xFFC9B4BC },
    { "flip_icon_hover_on", ombrel::colours::flip_icon_hover_on, 0xFFFE97B1 },
    { "flip_icon_hover", ombrel::colours::flip_icon_hover, 0xFFDFDFDF },
    { "flip_icon_on", ombrel::colours::flip_icon_on, 0xFFFE7094 },
    { "flipIconOff", ombrel::colours::flipIconOff, 0xFFC9B4BC },
    { "sync_icon_on_old", ombrel::colours::sync_icon_on_old, 0xFFFE3366 },
    { "syncIconOn", ombrel::colours::syncIconOn, 0xFF892841 },
    { "syncIconOff", ombrel::colours::syncIconOff, 0xFF7D626B },
    { "fxBackgroundFill", ombrel::colours::fxBackgroundFill, 0xFF892841 },
    { "fx_dial_background", ombrel::colours::fx_dial_background, 0xFFFFFFFF },
    { "fx_dial_fill", ombrel::colours::fx_dial_fill, 0xFF778AEF },
    { "fx_dial_fill2", ombrel::colours::fx_dial_fill2, 0xFFFF74A9 },
    { "fx_dial_label_text", ombrel::colours::fx_dial_label_text, 0xFFE5E5E5 },
    { "fx_dial_value_text", ombrel::colours::fx_dial_value_text, 0xFFFFFFFF },
    { "preset_icons", ombrel::colours::preset_icons, 0xFFFAF5FF },
    { "preset_icons_hovered", ombrel::colours::preset_icons_hovered, 0xFFFF89A8 },
    { "preset_text", ombrel::colours::preset_text, 0xFFFAF5FF },
};

struct NamedFont
{
    const char* name;
    const juce::Font& (*font)();
    int arrayIndex;
};

const NamedFont namedFonts[] = {
    { "small", ombrel::Fonts::small, 0 },
    { "medium", ombrel::Fonts::medium, 1 },
    { "large", ombrel::Fonts::large, 2 },
    { "book", ombrel::Fonts::book, 3 },
    { "light", ombrel::Fonts::light, 4 },
};

const juce::String sampleText { "Gate 0.0 dB" };
} // namespace

TEST_CASE ("Every palette colour has its AARRGGBB value", "[palette]")
{
    for (const auto& entry : namedColours)
    {
        INFO (entry.name);
        CHECK (juce::String::toHexString (entry.colour.getARGB()).toUpperCase()
               == juce::String::toHexString (entry.argb).toUpperCase());
    }
}

TEST_CASE ("Every embedded font loads as its own cut", "[palette][fonts]")
{
    juce::StringArray styles;

    for (const auto& entry : namedFonts)
    {
        INFO (entry.name);
        const auto& font = entry.font();
        auto typeface = font.getTypefacePtr();
        REQUIRE (typeface != nullptr);
        CHECK (typeface->getName() == "Manrope");
        CHECK (typeface->getStyle().isNotEmpty());
        styles.addIfNotAlreadyThere (typeface->getStyle());

        // A typeface without glyphs would measure text as zero width.
        CHECK (font.getStringWidthFloat (sampleText) > 10.0f);

        CHECK (font.getHeight() == Approx (14.0f));
        CHECK (font.getHorizontalScale() == Approx (1.0f));
        CHECK (font.getExtraKerningFactor() == 0.0f);
        CHECK_FALSE (font.isUnderlined());

        const auto& indexed = ombrel::Fonts::sFontArray()[(size_t) entry.arrayIndex];
        REQUIRE (indexed.getTypefacePtr() != nullptr);
        CHECK (indexed.getTypefacePtr()->getStyle() == typeface->getStyle());
        CHECK (indexed.getStringWidthFloat (sampleText) == Approx (font.getStringWidthFloat (sampleText)));
        CHECK (indexed.getHeight() == Approx (14.0f));
    }

    // Five different files, not one file loaded five times.
    CHECK (styles.size() == 5);
}

TEST_CASE ("A font type index outside the table falls back to the book cut", "[palette][fonts]")
{
    const auto bookStyle = ombrel::Fonts::book().getTypefacePtr()->getStyle();

    for (int index : { -1, 5, 1000 })
    {
        INFO (index);
        CHECK (ombrel::Fonts::fromIndex (index).getTypefacePtr()->getStyle() == bookStyle);
    }

    for (int index = 0; index < 5; ++index)
        CHECK (&ombrel::Fonts::fromIndex (index) == &ombrel::Fonts::sFontArray()[(size_t) index]);
}

TEST_CASE ("Copies of a font change without touching the shared font", "[palette][fonts]")
{
    auto copy = ombrel::Fonts::book().withHeight (17.0f).withExtraKerningFactor (0.02f);

    CHECK (copy.getHeight() == Approx (17.0f));
    CHECK (copy.getExtraKerningFactor() == Approx (0.02f));
    CHECK (ombrel::Fonts::book().getHeight() == Approx (14.0f));
    CHECK (ombrel::Fonts::book().getExtraKerningFactor() == 0.0f);
}
