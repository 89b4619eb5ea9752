#include "command_line/help_text.h"

#include <tarnel/board_protocol.h>

#include "characterize/characterize_command.h"
#include "command_line/command_table.h"
#include "characterize/characterize_csv.h"
#include "core/read_counts.h"
#include "link/usb_stuff.h"
#include "output/number_format.h"
#include "scpi/listen_address.h"
#include "sweep/reading_log.h"
#include "sweep/sweep_csv.h"
#include "sweep/sweep_plot.h"

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

constexpr const char* kHelp = R"(usage: tarnelctl [--library newer|older] [--board N|PATH] [--vmax VOLTS] [--json] [--reload] COMMAND ...

Drives the Tarnel evaluation board from a script: programs the DAC, reads its
output back through the board's {converterBits}-bit converter, and sweeps it; or serves it
to lab scripts as a SCPI instrument.

Commands:
{commands}
Options:
  --library newer|older    board-access library, bound as the two programs bind it
                           (newer: its installed path; older: libToveri.so beside
                           tarnelctl); default newer
  --board N|PATH           the board of that number in the list 'scan' prints
                           (newer library; the older one reaches board 0 only),
                           or the board at that USB port path (1-1.2: bus, then
                           ports), which stays when the board is plugged in again
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
  --plot FILE              draw read-back and error against the code ({width} x {height} px)
                           as PNG, SVG or PDF by FILE's extension (.png, .svg, .pdf;
                           SVG and PDF as vectors; any other is refused, exit 2); its
                           path is checked before the sweep starts and it is drawn
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
  scan    [{"board", "path", "reachable", "firmware_running", "problem"}]
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

characterize writes each code (one DAC request), waits --settle MS (default
{csettle}), takes --avg N readings of the meter (1 to {samples}, default 1; their mean
and standard deviation) and the board's read-back code:
  --settle auto[:MAX_MS]   instead of a fixed wait, take --avg N readings again
                           and again until two in a row agree: their means within
                           3 sigma x sqrt(2/N), sigma the noise of one reading from
                           the differences of successive readings (the smaller of
                           the two); at most MAX_MS (default {autoMax}) after the write,
                           a code not settled by then is named in the summary
                           (needs --avg 2 or more)
  --drift N                measure two reference codes at the start, after every
                           N codes and at the end, and correct each reading for the
                           offset and gain drift interpolated linearly in time to
                           the first reference measurement
  --drift-codes W1,W2      the reference codes (default {driftLow},{driftHigh})
  --repeat N               the code set N times over (1 to {mostRepeats}): each figure's
                           mean and standard deviation over the passes
  --meter RESOURCE         a DMM taking SCPI, set for DC volts, 10 V range, --nplc N
                           (0.02 to 100, default {nplc}), autozero once, immediate
                           trigger; its *IDN? is reported and any error it queues
                           while being set refuses it. RESOURCE as VISA writes it:
                             TCPIP0::HOST::PORT::SOCKET or HOST:PORT   LAN socket
                               ([::1]:5025 for IPv6)
                             TCPIP0::HOST[::DEVICE]::INSTR             LAN, VXI-11
                               (DEVICE inst0 unless given)
                             USB0::VID::PID::SERIAL[::IFACE]::INSTR    USBTMC (ids in
                               hex 0x2A8D or decimal; 'tarnelctl meters' prints them)
                             ASRL/dev/ttyUSB0::INSTR or /dev/ttyUSB0   RS-232 (SYST:REM
                               is sent first, then *CLS)
                             GPIB0::ADDR::INSTR                        GPIB (ADDR 0 to 30)
                               through --gpib-adapter
  --serial SETTINGS        RS-232: BAUD[,8N1][,none|rtscts|xonxoff|dtrdsr], default
                           9600,8N1,none (dtrdsr needs a port with modem lines)
  --eol lf|crlf            RS-232: the line end sent after each message (default lf)
  --gpib-adapter WHERE     the "++" GPIB adapter: its device path (/dev/ttyUSB0) or
                           HOST[:PORT] of a LAN adapter (port 1234 by default); its
                           ++ver is reported
  --codes SET              bits (default): 0, full scale, each 2^i and K-2^i, and
                           seven check codes j*K/8 for j = 1..7, each moved down to
                           a code with two bits set and two clear (K = {largest});
                           carries: 2^j-1, 2^j, K-2^j and K-2^j+1 for j = 1..17;
                           grid:N: N evenly spaced codes, both ends included; all
                           --from WORD --to WORD: every code between; or FILE: hex
                           codes, '#' comments
  --limits LIST            inl=LSB,dnl=LSB,offset_mv=MV,gain_pct=PCT (any of them),
                           with guard bands of twice the figure's uncertainty u:
                           |figure| + 2u <= limit passes, |figure| - 2u > limit or
                           not measured fails, in between is too close to call;
                           a fail or a too close ends with exit 6
  --report FILE.pdf        the run's record on one A4 PDF page (below); a name not
                           ending in .pdf is refused (exit 2), an unwritable path
                           too (exit 1), both before the first write
  --park WORD              the DAC is left at WORD (default 0) however the run ends,
                           unless the board has gone
A meter silent for longer than its timeout (2 s + 6 x avg x NPLC / 50 s), one
that drops the connection or is unplugged, or garbage on its line, stops the run
like a failed transfer (exit 5). A meter that never answers *IDN? is not reachable
(exit 3). Nothing is written to the DAC before the meter has answered.
Ctrl-C stops after the current code. The rows measured are kept either way.

Definitions (V measured, LSB = {full} / 2^18, K = {largest}): offset V(0) in uV
and LSB; measured LSB: the step of the end-point line, through the lowest and
highest codes measured ((V(K) - V(0)) / K with bits); gain error: measured LSB
/ LSB - 1 in ppm and % FSR; INL end-point: (V(k) - end-point line) / measured
LSB; INL best-fit: (V(k) - least-squares line of the measured codes) / its step;
each worst with its code; DNL(k) = (V(k) - V(k-1)) / measured LSB - 1 where k and
k-1 were both measured; monotonic: no DNL <= -1; noise: rms of the readings'
standard deviations (--avg 2 or more). With bits also: each bit's weight w_i =
V(2^i) - V(0) in LSB (least squares over 0, K, the 2^i and the K-2^i only), the
INL superposition predicts over every code, the predicted DNL at each major carry
(w_j - sum of w_i for i < j) / LSB - 1, and the superposition check: measured
minus predicted at the check codes, held out of the fit.
Uncertainties (u, standard): from each code's readings (their standard deviation
/ sqrt(N), with --avg 2 or more; with --repeat, a code's spread over the passes
where its readings give none) and the drift correction's, propagated to first
order through the end points, the least-squares lines and the bit weights' fit.
Without a spread to take them from they are left out (empty, null).

characterize CSV columns: {ccsv}
  settle_ms: from the write to the reading used; settled: 1 or 0 with --settle
  auto; drift_uv: the --drift correction added to meter_volts; inl_ep_u, dnl_u: the
  uncertainties of inl_ep_lsb and dnl_lsb; repeat: the pass, from 1. A value is
  empty where it does not exist. Rows go to the file as each code is done
  (INL and DNL still empty); when the run ends the file is written again with
  them. Without --csv the rows go to stdout at the end and the summary to stderr;
  with --json and no --csv they are in the JSON object.
characterize JSON: {"meter": {"resource", "identity", "nplc",
  "readings_per_code", "gpib_adapter" (its ++ver, GPIB only)}, "codes", "planned", "points", "completed", "stopped"
  (null, "interrupted", "transfer failed" or "meter failed"), "settle_ms" (the fixed
  wait, or the longest automatic one), "settle" ("fixed" or "auto"), "settle_max_ms",
  "unsettled_codes": [...], "repeat", "drift" ({"every", "codes", "references",
  "minutes", "offset_uv_per_min", "gain_ppm_per_min", each with "_u",
  "largest_correction_uv"} or null), "drift_problem" (why the references could not
  correct the drift, or null), "repeats" ({"passes", and for offset_uv,
  gain_error_ppm, inl_ep_lsb, inl_bf_lsb, dnl_lsb, superposition_lsb: {"mean", "sd",
  "passes"}} or null),
  "csv", "plot", "report", "firmware_loaded", "parked" (the word, or null), "ideal_lsb_uv",
  "offset_uv", "offset_lsb", "gain_error_ppm", "gain_error_pct_fsr",
  "measured_lsb_uv", "end_point_codes", "inl_ep_lsb", "inl_bf_lsb", "dnl_lsb"
  (each {"worst", "code"}), "monotonic", "noise_uv", "limits" ({"inl", "dnl", "offset_mv",
  "gain_pct", "passed", "failed": [...] (every limit not passed, as worded),
  "too_close": [names], "verdicts": {name: "pass", "fail" or "too close to call"}}
  or null), "bits" ({"weights_lsb": [18], "predicted_inl_lsb": {"worst", "code"},
  "carry_dnl_lsb": [{"code", "dnl"}], "superposition_lsb": {"worst", "code"}} or
  null), "rows" (only without --csv)}
Each figure's standard uncertainty is the key NAME_u beside it: a number beside a
number or beside a {"worst", "code"} object (the worst value's), an array beside an
array: offset_uv_u, offset_lsb_u, gain_error_ppm_u, gain_error_pct_fsr_u,
measured_lsb_uv_u, inl_ep_lsb_u, inl_bf_lsb_u, dnl_lsb_u; in "bits": weights_lsb_u,
predicted_inl_lsb_u, carry_dnl_lsb_u, superposition_lsb_u.
A figure that was not measured is null.
--plot draws INL (end-point and best-fit at the measured codes; with bits the
predicted curve over all codes) above DNL, in LSB against the code in hex, with
the --limits on INL and DNL as lines and the board, the meter and the date
(SOURCE_DATE_EPOCH when set) in the heading.
--report FILE.pdf writes one A4 page, as vectors, for the record: the date, the
board and this program's version, the meter and its settings, the codes and how
the run ended, the figures with each --limits limit and its PASS or FAIL, the
bit weights (with bits) and the --plot charts; written however the run ends.

meters JSON: [{"resource", "kind" ("usbtmc" or "serial"), "manufacturer",
  "product", "identity" (with --identify), "problem" (why a detail is missing)}]
meter JSON: {"resource", "replies": [{"message", "reply"}], "errors": [...]}

Exit status: 0 done, 1 other failure (meter: its error queue held errors), 2 usage,
3 no board / no permission / no firmware / meter not reachable or refusing its
settings, 4 value out of range or above --vmax, 5 USB transfer failed
(characterize, meter: or the meter failed or stopped answering) during the work,
6 a --limits figure failed, 130 interrupted (Ctrl-C).
Every failure prints one line on stderr naming the cause and the fix; data goes
to stdout.
)";

}  // namespace

std::string HelpText() {
    std::string commands;
    for (const CommandRow& row : CommandTable()) commands += row.help;
    std::string text = Filled(kHelp, "commands", commands);
    text = Filled(text, "largest", WordText(protocol::kDataMask));
    text = Filled(text, "full", FixedText(protocol::kFullScaleVolts, 2) + " V");
    text = Filled(text, "width", std::to_string(kPlotWidth));
    text = Filled(text, "height", std::to_string(kPlotHeight));
    text = Filled(text, "listen", std::string(scpi::kDefaultListenAddress));
    text = Filled(text, "clients", std::to_string(scpi::kDefaultMaxClients));
    text = Filled(text, "csettle", FixedText(kDefaultCharacterizeSettleMs, 0) + " ms");
    text = Filled(text, "autoMax", FixedText(kDefaultAutoSettleMaxMs, 0));
    text = Filled(text, "driftLow", WordText(kDefaultDriftLowCode));
    text = Filled(text, "driftHigh", WordText(kDefaultDriftHighCode));
    text = Filled(text, "mostRepeats", std::to_string(kMostRepeats));
    text = Filled(text, "samples", std::to_string(kMostMeterSamples));
    text = Filled(text, "nplc", FixedText(kDefaultNplc, 0));
    text = Filled(text, "ccsv", kCharacterizeCsvHeader);
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
