#pragma once

#include <juce_graphics/juce_graphics.h>

#include <array>

/** The editor's named colours. Every drawing class refers to colours only through these names. */
namespace ombrel::colours
{
inline const juce::Colour dot_icon_fill { 0xFF967F87 };
inline const juce::Colour dot_icon_active { 0xFFFF3366 };
inline const juce::Colour topbar_text { 0xFFFFF7FA };

inline const juce::Colour GRAPH_DOT_IDLE { 0xFFAF78DE };
inline const juce::Colour GRAPH_DOT_SOLO { 0xFFAA3453 };
inline const juce::Colour GRAPH_DOT_ACTIVE { 0xFF2EC4B6 };
inline const juce::Colour GRAPH_DOT_IDLE_BORDER { 0xFFE3D1FF };
inline const juce::Colour GRAPH_DOT_SOLO_BORDER { 0xFFFFE3E3 };
inline const juce::Colour GRAPH_DOT_ACTIVE_BORDER { 0xFFFFFFFF };
inline const juce::Colour GRAPH_SOLO_FILL_AREA { 0x1CFF33B1 };
inline const juce::Colour GRAPH_LINE { 0xFFFFC7C8 };
inline const juce::Colour GRAPG_FFT_BORDER { 0xFFC3C9E9 };
inline const juce::Colour GRAPG_FFT_FILL { 0xD93E2355 };

inline const juce::Colour gate_graph_area { 0xFF434979 };
inline const juce::Colour gate_graph_line { 0xFFC3C9E9 };

inline const juce::Colour LINE_RETURN_ACTIVE { 0xFFFFE083 };
inline const juce::Colour LINE_RETURN_IDLE { 0xFFFFBD00 };
inline const juce::Colour LINE_THRESH_ACTIVE { 0xFFFF91AD };
inline const juce::Colour LINE_THRESH_IDLE { 0xFFFE7094 };
inline const juce::Colour meters_handle_fill1 { 0xFFFF7094 };
inline const juce::Colour meters_handle_fill2 { 0xFFFFBD00 };

inline const juce::Colour slider_text { 0xFFFAF5FF };
inline const juce::Colour slider_dot_icon_idle { 0xBF8D6D75 };
inline const juce::Colour slider_dot_icon_active { 0xFFFF3366 };
inline const juce::Colour slider_fill { 0xFF632F8E };
inline const juce::Colour slider_fill_selected { 0xFF9D5165 };
inline const juce::Colour hover_fill { 0x0EFFFFFF };

inline const juce::Colour dial_label_background { 0xFF5F5F5F };
inline const juce::Colour dial_fill { 0xFFD7DCFC };
inline const juce::Colour dial_label_text { 0xFFE5E5E5 };
inline const juce::Colour dial_value_text { 0xFFFFFFFF };
inline const juce::Colour dial_special_fill { 0xFFFFE2ED };

inline const juce::Colour solo_icon_hover_on { 0xFFFFCF46 };
inline const juce::Colour solo_icon_hover { 0xFFDFDFDF };
inline const juce::Colour solo_icon_on { 0xFFFFBD00 };
inline const juce::Colour soloIconOff { 0xFFC9B4BC };
inline const juce::Colour flip_icon_hover_on { 0xFFFE97B1 };
inline const juce::Colour flip_icon_hover { 0xFFDFDFDF };
inline const juce::Colour flip_icon_on { 0xFFFE7094 };
inline const juce::Colour flipIconOff { 0xFFC9B4BC };
inline const juce::Colour sync_icon_on_old { 0xFFFE3366 };
inline const juce::Colour syncIconOn { 0xFF892841 };
inline const juce::Colour syncIconOff { 0xFF7D626B };

inline const juce::Colour fxBackgroundFill { 0xFF892841 };
inline const juce::Colour fx_dial_background { 0xFFFFFFFF };
inline const juce::Colour fx_dial_fill { 0xFF778AEF };
inline const juce::Colour fx_dial_fill2 { 0xFFFF74A9 };
inline const juce::Colour fx_dial_label_text { 0xFFE5E5E5 };
inline const juce::Colour fx_dial_value_text { 0xFFFFFFFF };

inline const juce::Colour preset_icons { 0xFFFAF5FF };
inline const juce::Colour preset_icons_hovered { 0xFFFF89A8 };
inline const juce::Colour preset_text { 0xFFFAF5FF };
} // namespace ombrel::colours

/** The five embedded cuts of the editor's typeface.

    Each is built from its embedded file on first use and then kept until the program ends; they
    are not built during static initialisation because the font engine is not ready that early.
    The fonts are shared and never change: take a copy and set height and kerning on the copy,
    e.g. `ombrel::Fonts::book().withHeight (14.0f).withExtraKerningFactor (0.02f)`.
    Every font starts at height 14, horizontal scale 1, no extra kerning, no underline.
    Use them on the message thread.
*/
namespace ombrel::Fonts
{
/** Heavier screen cut for small text such as slider and dial values. */
const juce::Font& small();
/** Screen cut for medium-sized text. */
const juce::Font& medium();
/** Finer cut for large text. */
const juce::Font& large();
/** The regular text weight. */
const juce::Font& book();
/** The light text weight. */
const juce::Font& light();

/** The same five cuts by index, in the order small, medium, large, book, light (0 to 4). */
const std::array<juce::Font, 5>& sFontArray();

/** The cut for a "FontType" component property; anything outside 0 to 4 gives the book cut. */
const juce::Font& fromIndex (int index);
} // namespace ombrel::Fonts
