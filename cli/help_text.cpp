#include "cli/help_text.h"

#include <tarnel/board_protocol.h>

#include "cli/number_text.h"
#include "cli/reading_log.h"
#include "cli/sweep_csv.h"
#include "cli/sweep_plot.h"
#include "core/read_counts.h"
#include "link/usb_stuff.h"
#include "scpi/listen_address.h"

namespace tarnel::cli {

namespace {

// Replaces every "{name}" in text by its value.
std::string Filled(std::string text, const std::string& name, const std::string& value) {
    const std::string key = "{" + name + "}";
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
    return text;
}

constexpr const char* kHelp = R"(usage: tarnelctl [--library newer|older] [--board N] [--vmax VOLTS] [--json] [--reload] COMMAND ...

Drives the Tarnel evaluation board from a script: programs the DAC, reads its
output back through the board's {converterBits}-bit converter, and sweeps it; or serves it
to lab scripts as a SCPI instrument.

Commands:
  scan                     list the boards: "board 0  firmware running"
  code WORD [--mode MODE]  write the data word WORD (hex, 0 to {largest}; 0x allowed)
  volts V [--mode MODE]    write the word nearest to V (2.5, 2.5V or 2500mV; 0 to {full})
  read [--avg N] [--count N [--interval MS]]
                           read the output back: "code 2048  volts 2.465", with
                           "std 0.471  min 2047  max 2049" of the codes when averaged;
                           with --count, N readings one every MS ms (default 1000)
                           as CSV rows on stdout (JSON: one object per reading)
  sweep --from WORD --to WORD (--step N | --points N) [--settle MS] [--avg N]
        [--csv FILE] [--plot FILE.png] [--mode MODE] [--park WORD]
                           write each code, wait, read back, one CSV row per point;
                           the DAC stays at the last code written unless --park
  serve [--listen ADDR:PORT] [--max-clients N]
                           the board as a SCPI instrument on TCP until SIGTERM or
                           Ctrl-C (exit 0): ADDR:PORT {listen} by default, [::1]:5025
                           for IPv6; up to N clients at once (1 to 256, default {clients})

Options:
  --library newer|older    board-access library, bound as the two programs bind it
                           (newer: its installed path; older: libToveri.so beside
                           tarnelctl); default newer
  --board N                the board of that number in the list 'scan' prints
                           (newer library; the older one reaches board 0 only)
  --vmax VOLTS             refuse any word whose output would be above VOLTS
  --json                   print one JSON object per command (scan: a list)
  --reload                 load the firmware even when it already runs
  --mode MODE              normal (default), 1k, 100k (powered down, output to
                           ground through 1 kohm / 100 kohm) or hiz (three-state)
  --avg N                  read N times (1 to {mostReads}) and report the mean code
  --step N | --points N    every N codes from --from to --to (--to itself last),
                           or N codes spread evenly with both ends included
  --settle MS              wait MS milliseconds between write and read (default 0)
  --csv FILE               write the rows to FILE ("-": stdout); without it the rows
                           go to stdout and the summary to stderr (with --json: the
                           rows in the JSON object; --json with --csv - is refused)
  --plot FILE.png          draw read-back and error against the code ({width} x {height} px);
                           its path is checked before the sweep starts and it is drawn
                           after the results are printed
  --park WORD              when the sweep ends, also after Ctrl-C or a failed transfer,
                           leave the DAC at WORD (in --mode), unless the board is gone
  --count N                read: log N readings (1 to 1000000); Ctrl-C stops the log
  --interval MS            read: MS milliseconds from one reading to the next
  --help, --version

The firmware ({firmware}) is loaded only when the board does
not answer, so the DAC keeps what the last command set. Words above {largest},
voltages above {full}, and outputs above --vmax are refused: nothing is written.
A powered-down output is 0 V. Each written word is one DAC request, each read
one read-back request.

Sweep CSV columns: {csv}
  code (decimal), input_word (the 24-bit word sent), set_volts (the output the
  word sets), read_code (mean read-back code), read_volts (rounded as the
  window shows it), error_mv (read-back minus set output), seconds (since start),
  read_code_std, read_code_min, read_code_max (spread of the --avg codes read).
Read log CSV columns: {readcsv}
  timestamp (UTC), seconds (since the first reading), code (mean), volts, reads,
  code_std, code_min, code_max.
Rows are written one by one: after Ctrl-C or a failed transfer the file holds
every finished row. A progress bar shows on stderr when it is a terminal.

Linearity summary (read-back figures at the converter's {converterBits}-bit resolution, about
{lsbMv} mV or {codesPerLsb} DAC codes per read-back LSB): points; the read-back line, a least-squares
fit over the codes from 10 % to 90 % of the swept span (every point when fewer
than two lie inside); offset error (the line at code 0, mV); gain error (its
slope against the ideal, % of full scale); maximum deviation from the line
inside that window (mV and read-back LSB); read-back monotonic (the read-back
never falls by more than one read-back LSB from one code to the next).

JSON keys:
  scan    [{"board", "reachable", "firmware_running", "problem"}]
  code    {"code", "word", "input_word", "mode", "set_volts", "firmware_loaded"}
  volts   the keys of code and "requested_volts"
  read    {"code", "volts", "reads", "code_std", "code_min", "code_max",
          "firmware_loaded"}; with --count one object per reading with the
          same keys (no "firmware_loaded") and "timestamp", "seconds"
  sweep   {"planned", "points", "completed", "stopped" (null, "interrupted" or
          "transfer failed"), "csv", "plot", "parked" (the word, or null),
          "firmware_loaded", "linearity":
          {"points", "line_codes", "line_through", "offset_error_mv",
          "gain_error_percent", "max_deviation_mv", "max_deviation_lsb",
          "monotonic"}, "rows" (only without --csv: the CSV columns as keys)}

serve takes one SCPI message per line (LF, or CR LF), answers each query with
one line (the answers of a compound message joined by ';'), and nothing else:
  *IDN?  *RST  *CLS  *ESE[?]  *ESR?  *SRE[?]  *STB?  *OPC[?]  *WAI  *TST?
  [SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude] V|MIN|MAX|DEF (V, MV, UV), and ?
  [SOURce:]VOLTage:LIMit[:AMPLitude] V, and ?     refuses levels above it (-222)
  [SOURce:]DAC:CODE 0..{largestCode} or #H{largest}, and ?
  OUTPut[:STATe] ON|OFF, and ?     OUTPut:OFF:MODE HIZ|R1K|R100K, and ?
  MEASure[:VOLTage][:DC]? [RANGE[,RESOLUTION]]    each V, MIN, MAX, DEF or AUTO;
                                   taken and ignored: the board has one range
  [SENSe:]AVERage:COUNt 1..{mostServedReads}, and ?
  SYSTem:ERRor[:NEXT]?  SYSTem:ERRor:COUNt?  SYSTem:ERRor:ALL?  SYSTem:VERSion?
  STATus:OPERation|QUEStionable [:EVENt]?  :CONDition?  :ENABle[?]   STATus:PRESet
Each client has its own error queue and status registers; the settings belong
to the board and every client shares them. A query that fails on the board
answers 9.91E+37 and queues -240 or -241. --vmax caps VOLTage:LIMit. A level
and a limit compare as DAC codes: VOLT 3.3 is allowed under VOLT:LIM 3.3.

Exit status: 0 done, 1 other failure, 2 usage, 3 no board / no permission /
no firmware, 4 value out of range or above --vmax, 5 USB transfer failed during
the work, 130 interrupted (Ctrl-C). Every failure prints one line on stderr
naming the cause and the fix; data goes to stdout.
)";

}  // namespace

std::string HelpText() {
    std::string text = Filled(kHelp, "largest", WordText(protocol::kDataMask));
    text = Filled(text, "full", FixedText(protocol::kFullScaleVolts, 2) + " V");
    text = Filled(text, "width", std::to_string(kPlotWidth));
    text = Filled(text, "height", std::to_string(kPlotHeight));
    text = Filled(text, "listen", std::string(scpi::kDefaultListenAddress));
    text = Filled(text, "clients", std::to_string(scpi::kDefaultMaxClients));
    text = Filled(text, "readcsv", kReadingCsvHeader);
    text = Filled(text, "largestCode", std::to_string(protocol::kDataMask));
    text = Filled(text, "converterBits", std::to_string(protocol::kConverterBits));
    text = Filled(text, "lsbMv", FixedText(protocol::ConverterVolts(1) * 1000, 1));
    text = Filled(text, "codesPerLsb", FixedText(protocol::kDacCodes / protocol::kConverterCodes, 0));
    text = Filled(text, "mostReads", std::to_string(kMostReadsPerReading));
    text = Filled(text, "mostServedReads", std::to_string(kMostReadsPerServedMeasurement));
    const std::string_view folder = USBStuff::ConfiguredFirmwareFolder();
    text = Filled(text, "firmware",
                  folder.empty() ? "Brisan.hex beside tarnelctl" : std::string(folder) + "/Brisan.hex");
    return Filled(text, "csv", kSweepCsvHeader);
}

}  // namespace tarnel::cli
