#include "gpib_adapter_meter.h"

#include "scpi/client/gpib_escaping.h"

namespace tarnel::emulator {

namespace gpib = scpi::client::gpib;

namespace {

// The status byte's message-available bit.
constexpr unsigned kMessageAvailable = 16;

}  // namespace

GpibAdapterMeter::GpibAdapterMeter(SharedMeter& meter, GpibAdapterOptions options, double)
    : options_(std::move(options)), commands_(options_.address), client_(meter) {}

GpibAdapterMeter::~GpibAdapterMeter() { Stop(); }

std::optional<std::string> GpibAdapterMeter::Start() {
    // USB-serial adapters take any baud rate: the client's settings change nothing here.
    if (auto problem = terminal_.Open(options_.link, 115200)) {
        terminal_.Close();
        return "cannot serve on " + options_.link + ": " + *problem;
    }
    host_ = std::thread([this] { ServeHost(); });
    meter_ = std::thread([this] { RunMeter(); });
    return std::nullopt;
}

void GpibAdapterMeter::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    terminal_.Wake();
    if (host_.joinable()) host_.join();
    if (meter_.joinable()) meter_.join();
    terminal_.Close();
}

void GpibAdapterMeter::ServeHost() {
    AdapterInput input;
    std::string bytes;
    while (terminal_.Read(bytes)) {
        input.Feed(bytes);
        bytes.clear();
        while (auto line = input.Next()) {
            if (line->starts_with("++")) {
                HandleCommand(*line);
            } else {
                HandleData(*line);
            }
        }
    }
}

bool GpibAdapterMeter::MeterAddressed() const {
    return commands_.Settings().mode == 1 && commands_.Settings().address == options_.address;
}

void GpibAdapterMeter::HandleCommand(const std::string& line) {
    const AdapterAction action = commands_.Handle(line);
    switch (action.kind) {
    case AdapterAction::Kind::None:
        return;
    case AdapterAction::Kind::Answer:
        terminal_.Write(action.answer + "\r\n");
        return;
    case AdapterAction::Kind::Read:
        ReadFromBus(action.readEnd, action.endCharacter);
        return;
    case AdapterAction::Kind::DeviceClear:
        if (!MeterAddressed()) return;
        meterInput_ = scpi::InputLines();
        {
            const std::lock_guard lock(mutex_);
            messages_.clear();
            output_.clear();
            ++clears_;
        }
        return;
    case AdapterAction::Kind::Trigger:
        if (commands_.Settings().mode != 1) return;
        for (const unsigned address : action.addresses) {
            if (address != options_.address) continue;
            const std::lock_guard lock(mutex_);
            messages_.push_back({"*TRG", false});
            changed_.notify_all();
        }
        return;
    case AdapterAction::Kind::SerialPoll: {
        const std::chrono::milliseconds timeout(commands_.Settings().readTimeoutMs);
        if (commands_.Settings().mode != 1 || action.addresses.front() != options_.address) {
            // Nobody answers the poll: the adapter gives up after its read timeout.
            terminal_.Sleep(timeout);
            return;
        }
        unsigned status = 0;
        {
            const std::lock_guard lock(mutex_);
            if (!output_.empty()) status |= kMessageAvailable;
        }
        terminal_.Write(std::to_string(status) + "\r\n");
        return;
    }
    }
}

void GpibAdapterMeter::HandleData(const std::string& escaped) {
    if (!MeterAddressed()) return;   // no listener at that address: the data goes nowhere
    const AdapterSettings& settings = commands_.Settings();
    std::string bytes = gpib::Unescaped(escaped);
    bytes += EosTerminator(settings.eos);
    meterInput_.Feed(bytes);
    // EOI with the last byte ends the meter's message whatever the bytes are.
    if (settings.eoi && (bytes.empty() || bytes.back() != '\n')) meterInput_.Feed("\n");
    {
        const std::lock_guard lock(mutex_);
        while (auto line = meterInput_.Next()) {
            // A new message makes the meter drop a reply nobody read (query interrupted).
            output_.clear();
            messages_.push_back(std::move(*line));
        }
    }
    changed_.notify_all();
    if (settings.autoRead == 1) ReadFromBus(ReadEnd::Eoi, 0);
}

void GpibAdapterMeter::ReadFromBus(ReadEnd end, char endCharacter) {
    const AdapterSettings& settings = commands_.Settings();
    const std::chrono::milliseconds timeout(settings.readTimeoutMs);
    if (!MeterAddressed()) {
        terminal_.Sleep(timeout);   // no talker: the adapter gives up after its read timeout
        return;
    }
    std::string heard;
    bool endedByEoi = false;
    {
        std::unique_lock lock(mutex_);
        // The meter's reply is one message with EOI on its last byte, all there once it is there.
        while (changed_.wait_for(lock, timeout, [this] { return stopping_ || !output_.empty(); })) {
            if (stopping_) return;
            if (end == ReadEnd::Character) {
                const std::size_t at = output_.find(endCharacter);
                if (at != std::string::npos) {
                    heard += output_.substr(0, at + 1);
                    output_.erase(0, at + 1);
                    break;
                }
            }
            heard += output_;
            output_.clear();
            endedByEoi = true;
            // A read to the timeout goes on past EOI until nothing more comes.
            if (end != ReadEnd::Timeout) break;
        }
    }
    if (endedByEoi && settings.eotEnable) heard += static_cast<char>(settings.eotChar);
    if (!heard.empty()) terminal_.Write(heard);
}

void GpibAdapterMeter::RunMeter() {
    try {
        while (true) {
            scpi::InputLines::Line message;
            unsigned clearsBefore = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return stopping_ || !messages_.empty(); });
                if (stopping_) return;
                message = std::move(messages_.front());
                messages_.pop_front();
                clearsBefore = clears_;
            }
            const std::optional<std::string> reply = client_.Run(message);
            const std::lock_guard lock(mutex_);
            if (reply && clears_ == clearsBefore) output_ = *reply + "\n";
            changed_.notify_all();
        }
    } catch (const MeterStopped&) {
        // The meter shuts down: nothing more is answered.
    }
}

}  // namespace tarnel::emulator
