#!/bin/sh
# JUCE 7.0.5's LV2 wrapper writes the scale points of choice parameters in normalised units
# (0, 0.25 ... 1) while it declares the parameter's range in choice indices (0 to 4), so LV2 hosts
# label the wrong values and send the wrong index. This rewrites those scale points into the
# declared range. Run after JUCE has written the bundle's dsp.ttl; running it twice changes nothing.
set -eu
ttl="$1"

awk '
function flush(    i, line, v, mapped) {
    # Rewrite only a block still in normalised units whose declared range is wider than 0..1.
    rewrite = enumeration && min != "" && max != "" && largest <= 1 && max - min > 1
    for (i = 1; i <= count; ++i) {
        line = block[i]
        if (rewrite && line ~ /rdf:value /) {
            v = line
            sub(/.*rdf:value /, "", v)
            sub(/[ \t]*;.*/, "", v)
            mapped = min + v * (max - min)
            sub(/rdf:value [^ \t;]+/, "rdf:value " (mapped == int(mapped) ? sprintf("%d", mapped) : sprintf("%g", mapped)), line)
        }
        print line
    }
    count = 0; min = ""; max = ""; enumeration = 0; largest = 0
}
/^plug:/ { flush() }
{
    block[++count] = $0
    if ($1 == "lv2:minimum") min = $2 + 0
    if ($1 == "lv2:maximum") max = $2 + 0
    if ($0 ~ /lv2:enumeration/) enumeration = 1
    if ($1 == "rdf:value" && $2 + 0 > largest) largest = $2 + 0
}
END { flush() }
' "$ttl" > "$ttl.tmp"
mv "$ttl.tmp" "$ttl"
