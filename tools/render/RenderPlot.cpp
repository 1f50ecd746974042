#include "render/RenderPlot.h"

namespace ombrel::render
{
namespace
{
    namespace palette
    {
        const juce::Colour background { 0xff14161b };
        const juce::Colour lane { 0xff1d2027 };
        const juce::Colour grid { 0xff30343d };
        const juce::Colour text { 0xffd6dae2 };
        const juce::Colour dimText { 0xff8c93a0 };
        const juce::Colour input { 0xff7f9cc0 };
        const juce::Colour output { 0xfff0a23a };
        const juce::Colour gain { 0xff52c48f };
    } // namespace palette

    constexpr int leftMargin = 86, rightMargin = 24, titleHeight = 64, axisHeight = 34, laneGap = 14;

    juce::Font plotFont (float height, bool bold = false)
    {
        return juce::Font (juce::Font::getDefaultSansSerifFontName(), height, bold ? juce::Font::bold : juce::Font::plain);
    }

    /** Maps the columns of a lane to sample ranges of the output timeline. */
    struct TimeAxis
    {
        juce::int64 length;
        int x0, width;

        juce::int64 sampleAtColumn (int column) const
        {
            return (juce::int64) ((double) column / width * (double) length);
        }
    };

    void drawLaneFrame (juce::Graphics& g, juce::Rectangle<int> area, const juce::StringArray& scale)
    {
        g.setColour (palette::lane);
        g.fillRect (area);

        // Scale labels: top, middle, bottom.
        g.setFont (plotFont (12.0f));
        g.setColour (palette::dimText);
        const int ys[] = { area.getY(), area.getCentreY(), area.getBottom() };
        for (int i = 0; i < juce::jmin (3, scale.size()); ++i)
        {
            g.drawText (scale[i], juce::Rectangle<int> (8, ys[i] - (i == 0 ? 0 : i == 2 ? 16 : 8), leftMargin - 16, 16),
                        juce::Justification::centredRight);
            g.setColour (palette::grid);
            g.drawHorizontalLine (i == 2 ? ys[i] - 1 : ys[i], (float) area.getX(), (float) area.getRight());
            g.setColour (palette::dimText);
        }
    }

    /** The lane's name inside its top-left corner, on a backing so curves never hide it. */
    void drawLaneName (juce::Graphics& g, juce::Rectangle<int> area, const juce::String& name)
    {
        g.setFont (plotFont (14.0f, true));
        const auto nameArea = juce::Rectangle<int> (area.getX() + 6, area.getY() + 6, g.getCurrentFont().getStringWidth (name) + 12, 20);
        g.setColour (palette::background.withAlpha (0.75f));
        g.fillRoundedRectangle (nameArea.toFloat(), 4.0f);
        g.setColour (palette::text);
        g.drawText (name, nameArea, juce::Justification::centred);
    }

    /** Draws an envelope as a waveform: one vertical stroke per column from its lowest to its highest value. */
    void drawWaveform (juce::Graphics& g, juce::Rectangle<int> area, const TimeAxis& axis, const Envelope& envelope, juce::Colour colour)
    {
        g.setColour (colour);
        const auto centre = (float) area.getCentreY();
        const auto halfHeight = (float) area.getHeight() * 0.5f - 1.0f;

        for (int column = 0; column < axis.width; ++column)
        {
            const auto range = envelope.rangeOver (axis.sampleAtColumn (column), axis.sampleAtColumn (column + 1));
            if (! range)
                continue;

            const auto top = centre - juce::jlimit (-1.0f, 1.0f, range->getEnd()) * halfHeight;
            const auto bottom = centre - juce::jlimit (-1.0f, 1.0f, range->getStart()) * halfHeight;
            g.fillRect (juce::Rectangle<float> ((float) (axis.x0 + column), top, 1.0f, juce::jmax (1.0f, bottom - top)));
        }
    }

    /** Draws a 0-to-1 curve filled beneath, its column range as a crisp edge. */
    void drawGain (juce::Graphics& g, juce::Rectangle<int> area, const TimeAxis& axis, const Envelope& envelope)
    {
        const auto bottom = (float) area.getBottom();
        const auto height = (float) area.getHeight() - 1.0f;

        for (int column = 0; column < axis.width; ++column)
        {
            const auto range = envelope.rangeOver (axis.sampleAtColumn (column), axis.sampleAtColumn (column + 1));
            if (! range)
                continue;

            const auto x = (float) (axis.x0 + column);
            const auto high = bottom - juce::jlimit (0.0f, 1.0f, range->getEnd()) * height;
            const auto low = bottom - juce::jlimit (0.0f, 1.0f, range->getStart()) * height;

            g.setColour (palette::gain.withAlpha (0.28f));
            g.fillRect (juce::Rectangle<float> (x, high, 1.0f, bottom - high));
            g.setColour (palette::gain);
            g.fillRect (juce::Rectangle<float> (x, high - 1.0f, 1.0f, juce::jmax (2.0f, low - high + 1.0f)));
        }
    }

    juce::String timeLabel (double seconds, double spacing)
    {
        if (spacing >= 60.0)
            return juce::String ((int) seconds / 60) + ":" + juce::String ((int) seconds % 60).paddedLeft ('0', 2);

        const auto decimals = spacing >= 1.0 ? 0 : spacing >= 0.1 ? 1 : 2;
        return juce::String (seconds, decimals) + " s";
    }

    void drawTimeAxis (juce::Graphics& g, juce::Rectangle<int> lanes, int axisTop, const TimeAxis& axis, double sampleRate)
    {
        const auto seconds = (double) axis.length / sampleRate;
        const auto spacing = RenderPlot::tickSpacing (seconds, 12);
        g.setFont (plotFont (12.0f));

        for (int tick = 0; tick * spacing <= seconds + 1.0e-9; ++tick)
        {
            const auto t = tick * spacing;
            const auto x = axis.x0 + (int) std::round (t / seconds * axis.width);

            g.setColour (palette::grid.withAlpha (0.6f));
            g.drawVerticalLine (x, (float) lanes.getY(), (float) axisTop + 5.0f);
            g.setColour (palette::dimText);
            g.drawText (timeLabel (t, spacing), juce::Rectangle<int> (x - 40, axisTop + 6, 80, 18), juce::Justification::centred);
        }
    }
} // namespace

double RenderPlot::tickSpacing (double seconds, int maximumTicks)
{
    static const double spacings[] = { 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30,
                                       60, 120, 300, 600, 900, 1800, 3600 };
    for (auto spacing : spacings)
        if (seconds / spacing <= maximumTicks)
            return spacing;
    return std::ceil (seconds / maximumTicks / 3600.0) * 3600.0;
}

juce::Image RenderPlot::draw (const RenderAnalysis& analysis, const RenderSummary& summary, int width, int height)
{
    juce::Image image (juce::Image::ARGB, width, height, true);
    juce::Graphics g (image);
    g.fillAll (palette::background);

    // Title: what was rendered, then the measured levels.
    g.setColour (palette::text);
    g.setFont (plotFont (17.0f, true));
    auto title = juce::File::createFileWithoutCheckingPath (summary.input).getFileName() + "  ->  "
                 + juce::File::createFileWithoutCheckingPath (summary.output).getFileName();
    if (summary.preset.isNotEmpty())
        title << "     preset: " << summary.preset;
    g.drawText (title, juce::Rectangle<int> (leftMargin, 8, width - leftMargin - rightMargin, 24), juce::Justification::centredLeft);

    g.setFont (plotFont (13.0f));
    g.setColour (palette::dimText);
    juce::String levels;
    levels << "in: peak " << formatDecibels (summary.inputPeakDb) << ", RMS " << formatDecibels (summary.inputRmsDb)
           << "     out: peak " << formatDecibels (summary.outputPeakDb) << ", RMS " << formatDecibels (summary.outputRmsDb);
    if (summary.gateOpenShare)
        levels << "     gate open " << juce::String (*summary.gateOpenShare * 100.0, 1) << " %";
    levels << "     clip events " << juce::String (summary.clippedSamples);
    g.drawText (levels, juce::Rectangle<int> (leftMargin, 34, width - leftMargin - rightMargin, 20), juce::Justification::centredLeft);

    const auto lanesArea = juce::Rectangle<int> (leftMargin, titleHeight, width - leftMargin - rightMargin,
                                                 height - titleHeight - axisHeight);
    const auto laneHeight = (lanesArea.getHeight() - 2 * laneGap) / 3;
    const auto laneAt = [&] (int index) {
        return juce::Rectangle<int> (lanesArea.getX(), lanesArea.getY() + index * (laneHeight + laneGap), lanesArea.getWidth(), laneHeight);
    };

    const TimeAxis axis { juce::jmax<juce::int64> (1, analysis.getOutputLength()), lanesArea.getX(), lanesArea.getWidth() };
    const juce::StringArray waveformScale { "+1", "0", "-1" };

    // Frames first, curves over them, names last so nothing covers them.
    drawLaneFrame (g, laneAt (0), waveformScale);
    drawWaveform (g, laneAt (0), axis, analysis.getInputEnvelope(), palette::input);

    drawLaneFrame (g, laneAt (1), waveformScale);
    drawWaveform (g, laneAt (1), axis, analysis.getInputEnvelope(), palette::input.withAlpha (0.22f));
    drawWaveform (g, laneAt (1), axis, analysis.getOutputEnvelope(), palette::output);

    drawLaneFrame (g, laneAt (2), { "1", "0.5", "0" });
    drawGain (g, laneAt (2), axis, analysis.getGainEnvelope());

    drawLaneName (g, laneAt (0), "input");
    drawLaneName (g, laneAt (1), "output (input faint behind)");
    drawLaneName (g, laneAt (2), "gate gain");

    drawTimeAxis (g, lanesArea, laneAt (2).getBottom(), axis, analysis.getSampleRate() > 0.0 ? analysis.getSampleRate() : 44100.0);
    return image;
}

juce::Result RenderPlot::writePng (const juce::Image& image, const juce::File& file)
{
    if (! file.getParentDirectory().isDirectory())
        return juce::Result::fail ("folder " + file.getParentDirectory().getFullPathName() + " does not exist");

    juce::TemporaryFile temporary (file);
    {
        juce::FileOutputStream stream (temporary.getFile());
        if (! stream.openedOk())
            return juce::Result::fail ("cannot write into its folder (" + stream.getStatus().getErrorMessage() + ")");

        juce::PNGImageFormat png;
        if (! png.writeImageToStream (image, stream))
            return juce::Result::fail ("could not encode the picture");

        stream.flush();
        if (stream.getStatus().failed())
            return juce::Result::fail ("writing failed (" + stream.getStatus().getErrorMessage() + ")");
    }

    if (! temporary.overwriteTargetFileWithTemporary())
        return juce::Result::fail ("could not replace the file");

    return juce::Result::ok();
}
} // namespace ombrel::render
