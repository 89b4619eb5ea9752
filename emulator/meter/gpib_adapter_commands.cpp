#include "gpib_adapter_commands.h"

#include <charconv>

#include "scpi/client/gpib_escaping.h"

namespace tarnel::emulator {

namespace gpib = scpi::client::gpib;

namespace {

std::optional<unsigned> ParseNumber(std::string_view text, unsigned least, unsigned most) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < least || value > most) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    return words;
}

AdapterAction Answer(std::string text) {
    AdapterAction action;
    action.kind = AdapterAction::Kind::Answer;
    action.answer = std::move(text);
    return action;
}

AdapterAction Unrecognized() { return Answer(kUnrecognizedCommand); }

// A setting that the command sets with one number in [least, most], or answers without one.
AdapterAction NumberSetting(const std::vector<std::string_view>& words, unsigned least, unsigned most,
                            unsigned& setting) {
    if (words.size() == 1) return Answer(std::to_string(setting));
    if (words.size() != 2) return Unrecognized();
    const auto value = ParseNumber(words[1], least, most);
    if (!value) return Unrecognized();
    setting = *value;
    return {};
}

AdapterAction FlagSetting(const std::vector<std::string_view>& words, bool& setting) {
    unsigned value = setting ? 1 : 0;
    AdapterAction action = NumberSetting(words, 0, 1, value);
    setting = value == 1;
    return action;
}

}  // namespace

void AdapterInput::Feed(std::string_view bytes) {
    for (const char c : bytes) {
        if (!escaped_ && (c == '\r' || c == '\n')) {
            if (!dropping_ && !partial_.empty()) ready_.push_back(std::move(partial_));
            partial_.clear();
            dropping_ = false;
            continue;
        }
        escaped_ = !escaped_ && c == gpib::kEscape;
        if (dropping_) continue;
        if (partial_.size() >= kLongestLine) {
            partial_.clear();
            dropping_ = true;
            continue;
        }
        partial_ += c;
    }
}

std::optional<std::string> AdapterInput::Next() {
    if (ready_.empty()) return std::nullopt;
    std::string line = std::move(ready_.front());
    ready_.pop_front();
    return line;
}

AdapterCommands::AdapterCommands(unsigned address) {
    saved_.address = address;
    settings_ = saved_;
}

std::string AdapterCommands::Version() {
    return std::string("GPIB adapter emulated by board-emulator, version ") + TARNEL_METER_VERSION;
}

AdapterAction AdapterCommands::Handle(std::string_view line) {
    const std::vector<std::string_view> words = Words(line.substr(2));
    if (words.empty()) return Unrecognized();
    const std::string_view name = words[0];
    AdapterAction action;
    if (name == "ver" && words.size() == 1) return Answer(Version());
    if (name == "mode") return NumberSetting(words, 0, 1, settings_.mode);
    if (name == "addr") {
        // A secondary address (96..126) may follow; the emulated bus has none, so it is checked and not kept.
        if (words.size() == 3 && !ParseNumber(words[2], 96, 126)) return Unrecognized();
        if (words.size() == 3) return NumberSetting({words[0], words[1]}, 0, gpib::kHighestAddress, settings_.address);
        return NumberSetting(words, 0, gpib::kHighestAddress, settings_.address);
    }
    if (name == "auto") return NumberSetting(words, 0, 1, settings_.autoRead);
    if (name == "eoi") return FlagSetting(words, settings_.eoi);
    if (name == "eos") return NumberSetting(words, 0, 3, settings_.eos);
    if (name == "read_tmo_ms") {
        return NumberSetting(words, gpib::kLeastReadTimeoutMs, gpib::kMostReadTimeoutMs, settings_.readTimeoutMs);
    }
    if (name == "eot_enable") return FlagSetting(words, settings_.eotEnable);
    if (name == "eot_char") return NumberSetting(words, 0, 255, settings_.eotChar);
    if (name == "savecfg") {
        action = FlagSetting(words, settings_.saveConfig);
        if (settings_.saveConfig && words.size() == 2) saved_ = settings_;
        return action;
    }
    if (name == "read") {
        if (words.size() > 2) return Unrecognized();
        action.kind = AdapterAction::Kind::Read;
        action.readEnd = ReadEnd::Timeout;
        if (words.size() == 2) {
            if (words[1] == "eoi") {
                action.readEnd = ReadEnd::Eoi;
            } else if (const auto character = ParseNumber(words[1], 0, 255)) {
                action.readEnd = ReadEnd::Character;
                action.endCharacter = static_cast<char>(*character);
            } else {
                return Unrecognized();
            }
        }
        return action;
    }
    if (name == "clr" && words.size() == 1) {
        action.kind = AdapterAction::Kind::DeviceClear;
        return action;
    }
    if (name == "trg" || name == "spoll") {
        action.kind = name == "trg" ? AdapterAction::Kind::Trigger : AdapterAction::Kind::SerialPoll;
        for (std::size_t i = 1; i < words.size(); ++i) {
            const auto address = ParseNumber(words[i], 0, gpib::kHighestAddress);
            if (!address) return Unrecognized();
            action.addresses.push_back(*address);
        }
        if (action.addresses.empty()) action.addresses.push_back(settings_.address);
        if (name == "spoll" && action.addresses.size() != 1) return Unrecognized();
        return action;
    }
    if ((name == "ifc" || name == "loc") && words.size() <= 2) return action;
    if (name == "rst" && words.size() == 1) {
        settings_ = saved_;
        return action;
    }
    return Unrecognized();
}

std::string_view EosTerminator(unsigned eos) {
    switch (eos) {
    case 0: return "\r\n";
    case 1: return "\r";
    case 2: return "\n";
    default: return "";
    }
}

}  // namespace tarnel::emulator
