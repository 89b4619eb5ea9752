#include "serial_line_meter.h"

namespace tarnel::emulator {

SerialLineMeter::SerialLineMeter(SharedMeter& meter, SerialLineOptions options, double speed)
    : options_(std::move(options)), speed_(speed), client_(meter) {}

SerialLineMeter::~SerialLineMeter() { Stop(); }

std::optional<std::string> SerialLineMeter::Start() {
    if (auto problem = terminal_.Open(options_.link, options_.baud)) {
        terminal_.Close();
        return "cannot serve on " + options_.link + ": " + *problem;
    }
    receiver_ = std::thread([this] { Receive(); });
    answerer_ = std::thread([this] { Answer(); });
    return std::nullopt;
}

void SerialLineMeter::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    received_.notify_all();
    terminal_.Wake();
    if (receiver_.joinable()) receiver_.join();
    if (answerer_.joinable()) answerer_.join();
    terminal_.Close();
}

void SerialLineMeter::Receive() {
    scpi::InputLines input;
    std::string bytes;
    while (terminal_.Read(bytes)) {
        input.Feed(bytes);
        bytes.clear();
        const std::lock_guard lock(mutex_);
        while (auto line = input.Next()) lines_.push_back(std::move(*line));
        received_.notify_all();
    }
}

void SerialLineMeter::Answer() {
    const LineFrame meterFrame{options_.baud, 8, 'N', 1};
    const auto byteTime = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(meterFrame.BitsPerByte() / (options_.baud * speed_)));
    try {
        while (true) {
            scpi::InputLines::Line line;
            {
                std::unique_lock lock(mutex_);
                received_.wait(lock, [this] { return stopping_ || !lines_.empty(); });
                if (stopping_) return;
                line = std::move(lines_.front());
                lines_.pop_front();
            }
            const std::optional<std::string> reply = client_.Run(line);
            if (!reply) continue;
            // The meter sends at its own settings; the client hears them at its own.
            const std::string sent = *reply + "\n";
            const std::string heard = Resampled(sent, meterFrame, terminal_.ClientFrame());
            if (heard.empty()) continue;
            // What is heard takes as long on the line as what was sent.
            if (!terminal_.WritePaced(heard, byteTime * static_cast<long>(sent.size()) / static_cast<long>(heard.size()))) return;
        }
    } catch (const MeterStopped&) {
        // The meter shuts down: nothing more is answered.
    }
}

}  // namespace tarnel::emulator
