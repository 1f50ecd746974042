#pragma once

namespace VavadUvi::Utility
{
/** Amplitude of a level N dB below full scale, 10^(-N/20). */
constexpr double AMP_6_DB = 0.5011872336272724;
constexpr double AMP_12_DB = 0.251188643150958;
constexpr double AMP_18_DB = 0.1258925411794167;
constexpr double AMP_24_DB = 0.06309573444801933;
constexpr double AMP_30_DB = 0.03162277660168379;
constexpr double AMP_36_DB = 0.015848931924611134;
constexpr double AMP_42_DB = 0.007943282347242814;
constexpr double AMP_48_DB = 0.003981071705534973;
constexpr double AMP_54_DB = 0.001995262314968879;
constexpr double AMP_60_DB = 0.001;
constexpr double AMP_66_DB = 0.0005011872336272724;
constexpr double AMP_72_DB = 0.00025118864315095795;
constexpr double AMP_78_DB = 0.00012589254117941674;
constexpr double AMP_84_DB = 6.30957344480193e-05;
constexpr double AMP_90_DB = 3.1622776601683795e-05;
constexpr double AMP_96_DB = 1.584893192461114e-05;
} // namespace VavadUvi::Utility
