// The meter model shared by the clients of the meter: one message at a time
// holds it, and a message that waits for readings lets go of it while it
// waits, so that other clients are served meanwhile (and may, for instance,
// send the bus trigger it waits for). Stop ends every wait.
#pragma once

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "meter_model.h"

namespace tarnel::emulator {

// The meter is shutting down: a wait ends, and no message is served any more.
class MeterStopped : public std::runtime_error {
public:
    MeterStopped() : std::runtime_error("the meter is shutting down") {}
};

class SharedMeter {
public:
    explicit SharedMeter(MeterModel::Setup setup);

    // The meter held for one message, on the thread that runs it.
    class Session {
    public:
        explicit Session(SharedMeter& meter);
        ~Session();
        // The session the message running on the calling thread holds; throws
        // std::logic_error when it holds none.
        static Session& Current();
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;

        MeterModel& Model() { return meter_.model_; }
        MeterModel::TimePoint Now() const { return MeterModel::Clock::now(); }

        // The readings of the last INITiate once they are all ready; throws
        // what MeterModel::ReadingsAt throws, MeterStopped on Stop.
        std::vector<double> AwaitReadings();
        // Until the readings under way are done (*WAI, *OPC?); at once when
        // there are none, or when only a bus trigger is awaited.
        void AwaitCompletion();

    private:
        // Lets go of the meter until at at the latest (earlier when another
        // message ended), or until Stop, which throws.
        void WaitUntil(MeterModel::TimePoint at);

        SharedMeter& meter_;
        std::unique_lock<std::mutex> lock_;
        Session* outer_;   // the calling thread's session before this one
    };

    void Stop();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    MeterModel model_;
};

}  // namespace tarnel::emulator
