#include "shared_meter.h"

namespace tarnel::emulator {

namespace {

thread_local SharedMeter::Session* currentSession = nullptr;

}  // namespace

SharedMeter::SharedMeter(MeterModel::Setup setup) : model_(std::move(setup)) {}

void SharedMeter::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
}

SharedMeter::Session::Session(SharedMeter& meter) : meter_(meter), lock_(meter.mutex_), outer_(currentSession) {
    if (meter_.stopping_) throw MeterStopped();
    currentSession = this;
}

SharedMeter::Session::~Session() {
    currentSession = outer_;
    lock_.unlock();
    // What this message changed may end another client's wait early.
    meter_.changed_.notify_all();
}

SharedMeter::Session& SharedMeter::Session::Current() {
    if (currentSession == nullptr) throw std::logic_error("a meter command ran outside a message that holds the meter");
    return *currentSession;
}

std::vector<double> SharedMeter::Session::AwaitReadings() {
    while (true) {
        const MeterModel::Progress progress = Model().ReadingsAt(Now());
        if (progress.state == MeterModel::Progress::State::Ready) return Model().Readings();
        WaitUntil(progress.readyAt);
    }
}

void SharedMeter::Session::AwaitCompletion() {
    while (const std::optional<MeterModel::TimePoint> until = Model().BusyUntil(Now())) WaitUntil(*until);
}

void SharedMeter::Session::WaitUntil(MeterModel::TimePoint at) {
    // Woken early (another client's message, or spuriously), the caller
    // looks at the readings again.
    if (!meter_.stopping_) meter_.changed_.wait_until(lock_, at);
    if (meter_.stopping_) throw MeterStopped();
}

}  // namespace tarnel::emulator
