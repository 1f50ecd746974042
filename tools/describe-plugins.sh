#!/usr/bin/env bash
# Prints where the built plug-ins are and what a host sees of them.
set -euo pipefail
artefacts="$1"
uri="https://ombrel.com/plugins/sorvanta"

echo "VST3:       $artefacts/VST3/sorvanta.vst3"
echo "LV2:        $artefacts/LV2/sorvanta.lv2"
echo "Standalone: $artefacts/Standalone/sorvanta"
echo
LV2_PATH="$artefacts/LV2" lv2info "$uri" | grep -E '^\s*(Name|Author|Has latency|Bundle):'
echo
echo "Ports (audio buses, then parameters):"
LV2_PATH="$artefacts/LV2" lv2info "$uri" | awk '/^\tPort/ {port=$0} /^\t\tName:/ {sub(/^\t\tName: */, ""); print port ": " $0}'
