// Why an instrument could not be used. The client library knows nothing of
// exit statuses: a front end maps each kind to its own (tarnelctl: the kinds
// up to Unreachable mean the meter cannot be reached, the rest that it failed
// while in use). Every message is one line that names the cause and the fix.
#pragma once

#include <stdexcept>
#include <string>

namespace tarnel::scpi::client {

enum class FailureKind {
    // Opening: the instrument was never usable.
    NotFound,           // no such USB instrument, serial port or adapter
    NoPermission,       // the device node or port cannot be opened by this user
    Busy,               // another program holds the instrument
    Unreachable,        // anything else that keeps the connection from opening,
                        // and an instrument that never answered its first query
    // In use: the instrument was there and stopped working.
    Timeout,            // no reply within the deadline after earlier replies came
    Lost,               // unplugged, connection closed, line gone
    Garbled,            // bytes that are no reply (garbage on the line, a broken frame, no end)
};

// True for the kinds that mean the instrument never answered.
constexpr bool IsOpeningFailure(FailureKind kind) {
    return kind == FailureKind::NotFound || kind == FailureKind::NoPermission || kind == FailureKind::Busy ||
           kind == FailureKind::Unreachable;
}

class InstrumentFailure : public std::runtime_error {
public:
    InstrumentFailure(FailureKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    FailureKind Kind() const { return kind_; }

private:
    FailureKind kind_;
};

}  // namespace tarnel::scpi::client
