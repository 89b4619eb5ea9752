#include "meter/meters_command.h"

#include <cstdio>

#include "output/report_json.h"
#include "output/stderr_lines.h"
#include "scpi/client/instrument_list.h"

namespace tarnel::cli {

namespace {

QJsonValue Text(const std::optional<std::string>& text) {
    return text ? QJsonValue(QString::fromStdString(*text)) : QJsonValue();
}

// "USB0::0x1209::0xB212::EMU0001::INSTR  usbtmc  Maker Product  *IDN?  (problem)".
std::string Line(const scpi::client::ListedInstrument& listed) {
    std::string line = listed.resource.Text() + "  " + listed.kind;
    const std::string name = listed.manufacturer + (listed.manufacturer.empty() || listed.product.empty() ? "" : " ") +
                             listed.product;
    if (!name.empty()) line += "  " + name;
    if (listed.identity) line += "  " + *listed.identity;
    if (listed.problem) line += "  (" + *listed.problem + ")";
    return line;
}

}  // namespace

MetersCommand ParseMetersCommand(const OptionReader& args, const GlobalOptions&) {
    args.ExpectWords(0, "");
    return MetersCommand{args.Has("--identify")};
}

void ListMeters(const GlobalOptions& options, const MetersCommand& command) {
    const std::vector<scpi::client::ListedInstrument> found = scpi::client::ListInstruments(command.identify);
    if (options.json) {
        QJsonArray list;
        for (const auto& listed : found) {
            list.append(QJsonObject{{"resource", QString::fromStdString(listed.resource.Text())},
                                    {"kind", QString::fromStdString(listed.kind)},
                                    {"manufacturer", QString::fromStdString(listed.manufacturer)},
                                    {"product", QString::fromStdString(listed.product)},
                                    {"identity", Text(listed.identity)},
                                    {"problem", Text(listed.problem)}});
        }
        PrintJson(list);
    } else {
        for (const auto& listed : found) std::printf("%s\n", Line(listed).c_str());
        std::fflush(stdout);
    }
    if (found.empty()) {
        PrintStderrLine("tarnelctl: no USBTMC instrument and no serial port found — check the meter's cable and power; "
                        "a LAN meter is not listed: give it as HOST:5025");
    }
}

}  // namespace tarnel::cli
