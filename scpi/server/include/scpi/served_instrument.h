// One instrument as its protocol fronts serve it (the raw socket server, a
// VXI-11 server): its command table, how the messages of its clients are
// dispatched, the worker threads that run them, and its exclusive lock. A
// front connects each of its clients, which brings its own ConnectionState
// (error queue, status registers), and submits the client's messages; each
// message is answered once, in the order of that client's messages.
//
// Dispatch modes:
// - OneAtATime: the messages of every client run on one worker thread in the
//   order they arrive (the board: `VOLT 1;:MEAS?` measures its own level).
// - EachClientItsOwn: each client has a worker thread of its own, so a slow
//   message holds up only its client (the meter: a reading that waits for a
//   trigger while another client sends it). The table must then be safe to
//   run from several threads at once.
//
// The instrument outlives its clients; what the table's handlers capture
// outlives the instrument.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "scpi/command_table.h"
#include "scpi/connection_state.h"
#include "scpi/input_lines.h"
#include "scpi/instrument_lock.h"
#include "scpi/message_worker.h"

namespace tarnel::scpi {

enum class DispatchMode { OneAtATime, EachClientItsOwn };

class ServedInstrument;

// One client of a served instrument, as a front connected it.
class InstrumentClient {
public:
    // Gets the reply line of one message (nothing when it has none), on the
    // worker thread that ran it.
    using Answer = std::function<void(std::optional<std::string> reply)>;

    ~InstrumentClient();   // Close
    InstrumentClient(const InstrumentClient&) = delete;
    InstrumentClient& operator=(const InstrumentClient&) = delete;

    // Queues one message; `answer` is called once when it has run. A line
    // too long (overrun) runs as the -363 it is, in its place.
    void Submit(InputLines::Line message, Answer answer);

    const std::shared_ptr<ConnectionState>& State() const { return state_; }

    // Drops the messages not started (their answers never come) and waits
    // until the one running, if any, has been answered; nothing more runs
    // for this client. Never call it from an Answer.
    void Close();
    // Close without the wait: the one running, if any, still finishes and is
    // answered; Idle says when it has. For a front that must not wait for a
    // slow message when its client leaves (a VXI-11 link destroyed).
    void Abandon();
    // No message of the client runs now.
    bool Idle() const;

private:
    friend class ServedInstrument;
    // Whether a message of the client runs, and whether it was closed.
    struct Progress {
        std::mutex mutex;
        std::condition_variable idle;
        bool running = false;
        bool closed = false;
    };

    InstrumentClient(ServedInstrument& instrument, std::shared_ptr<ConnectionState> state);

    ServedInstrument& instrument_;
    std::shared_ptr<ConnectionState> state_;
    std::shared_ptr<Progress> progress_ = std::make_shared<Progress>();
    std::unique_ptr<MessageWorker> ownWorker_;   // EachClientItsOwn only
};

class ServedInstrument {
public:
    // Runs one message of a client and gives its reply line; ExecuteMessage on
    // the table, or the instrument's own when its handlers need something
    // held for the whole message (the meter holds its shared model).
    using MessageRun = std::function<std::optional<std::string>(std::string_view message, ConnectionState& client)>;

    ServedInstrument(CommandTable table, DispatchMode mode);
    ServedInstrument(MessageRun run, DispatchMode mode);
    ~ServedInstrument();   // the message running finishes; the rest are dropped
    ServedInstrument(const ServedInstrument&) = delete;
    ServedInstrument& operator=(const ServedInstrument&) = delete;

    // A new client, with its own state.
    std::unique_ptr<InstrumentClient> Connect(std::shared_ptr<ConnectionState> state = std::make_shared<ConnectionState>());

    DispatchMode Mode() const { return mode_; }
    InstrumentLock& Lock() { return lock_; }

private:
    friend class InstrumentClient;

    // One message of a client, on the calling thread: -363 for a line too
    // long, kLockedOutError while another client holds the lock, else its run;
    // an exception of the run is queued as -300.
    std::optional<std::string> Run(const InputLines::Line& message, ConnectionState& client);

    MessageRun run_;
    const DispatchMode mode_;
    InstrumentLock lock_;
    std::unique_ptr<MessageWorker> sharedWorker_;   // OneAtATime only; last: stops first
};

}  // namespace tarnel::scpi
