// The DAC input word: data word and power-down code joined into the 24-bit
// word of the DAC's input shift register, kept in DacWord and written to the
// board.
#pragma once

namespace tarnel {

enum class WriteOutcome {
    NotSent,   // word format not 24 bits / 18-bit resolution: nothing done
    Written,   // the library reports the write as done
    Failed,    // the write was sent and the library reports it as failed
};

// Reads the data word from DacWord and the code from PowerDownMode, stores
// the input word PowerDownMode * 2^20 + DacWord * 4 in DacWord and writes it.
// Raises RunTimeError (overflow) without sending when the word leaves the
// 32-bit range.
WriteOutcome EncodeAndSend();

}  // namespace tarnel
