#include "scpi/served_instrument.h"

#include <exception>
#include <utility>

#include "scpi/message_executor.h"

namespace tarnel::scpi {

InstrumentClient::InstrumentClient(ServedInstrument& instrument, std::shared_ptr<ConnectionState> state)
    : instrument_(instrument), state_(std::move(state)) {
    if (instrument_.mode_ == DispatchMode::EachClientItsOwn) ownWorker_ = std::make_unique<MessageWorker>();
}

InstrumentClient::~InstrumentClient() { Close(); }

void InstrumentClient::Submit(InputLines::Line message, Answer answer) {
    MessageWorker& worker = ownWorker_ ? *ownWorker_ : *instrument_.sharedWorker_;
    worker.Submit([&instrument = instrument_, state = state_, progress = progress_, message = std::move(message),
                   answer = std::move(answer)] {
        {
            const std::lock_guard lock(progress->mutex);
            if (progress->closed) return;
            progress->running = true;
        }
        answer(instrument.Run(message, *state));
        {
            const std::lock_guard lock(progress->mutex);
            progress->running = false;
        }
        progress->idle.notify_all();
    });
}

void InstrumentClient::Close() {
    {
        std::unique_lock lock(progress_->mutex);
        progress_->closed = true;
        // As long as the instrument's own commands take at most.
        progress_->idle.wait(lock, [this] { return !progress_->running; });
    }
    if (ownWorker_) ownWorker_->Stop();
}

void InstrumentClient::Abandon() {
    const std::lock_guard lock(progress_->mutex);
    progress_->closed = true;
}

bool InstrumentClient::Idle() const {
    const std::lock_guard lock(progress_->mutex);
    return !progress_->running;
}

ServedInstrument::ServedInstrument(CommandTable table, DispatchMode mode)
    : ServedInstrument(
          [table = std::make_shared<const CommandTable>(std::move(table))](std::string_view message,
                                                                           ConnectionState& client) {
              return ExecuteMessage(message, *table, client);
          },
          mode) {}

ServedInstrument::ServedInstrument(MessageRun run, DispatchMode mode) : run_(std::move(run)), mode_(mode) {
    if (mode_ == DispatchMode::OneAtATime) sharedWorker_ = std::make_unique<MessageWorker>();
}

ServedInstrument::~ServedInstrument() {
    if (sharedWorker_) sharedWorker_->Stop();
}

std::unique_ptr<InstrumentClient> ServedInstrument::Connect(std::shared_ptr<ConnectionState> state) {
    return std::unique_ptr<InstrumentClient>(new InstrumentClient(*this, std::move(state)));
}

std::optional<std::string> ServedInstrument::Run(const InputLines::Line& message, ConnectionState& client) {
    if (message.overrun) {
        ReportDroppedLine(client);
        return std::nullopt;
    }
    if (lock_.HeldAgainst(client)) {
        client.Report(kLockedOutError, "another client holds the instrument's lock, so the message did not run: "
                                       "send it again once that client has let go");
        return std::nullopt;
    }
    try {
        return run_(message.text, client);
    } catch (const std::exception& failure) {
        client.Report(ErrorCode::DeviceSpecificError, failure.what());
    } catch (...) {
        client.Report(ErrorCode::DeviceSpecificError, "the message failed for a reason it did not name");
    }
    return std::nullopt;
}

}  // namespace tarnel::scpi
