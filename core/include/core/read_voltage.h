// Read Voltage below the window: one read-back request, the converter's code
// and the voltage it stands for, as every front end shows them.
#pragma once


namespace tarnel {

// The voltage a converter code (or a mean of codes) stands for, rounded as the
// program shows it: code / 4096 * 4.93, then "0.###".
float DisplayedVolts(double converterCode);

// Issues one read-back request. On success AdcCode holds the converter's 12
// bits of the value read and OutputVoltage their voltage, and it returns true.
// When the library reports the read as failed it returns false and AdcCode and
// OutputVoltage keep the last good reading: a failed read is no measurement.
// Errors of the library binding (RunTimeError) pass to the caller.
bool ReadOutputVoltage();

}  // namespace tarnel
