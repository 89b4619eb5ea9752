// How many read-back requests one averaged reading may take, in each front
// end. A tarnelctl command has the board to itself; the SCPI server shares it
// among its clients, so its [SENSe:]AVERage:COUNt keeps one MEASure? short
// enough that the other clients' commands do not wait long behind it.
#pragma once

namespace tarnel {

inline constexpr unsigned kMostReadsPerReading = 65536;         // tarnelctl read and sweep --avg
inline constexpr unsigned kMostReadsPerServedMeasurement = 1024;   // the SCPI server's AVERage:COUNt

}  // namespace tarnel
