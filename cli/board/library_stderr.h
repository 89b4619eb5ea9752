// The board-access libraries write one line to stderr for every failure,
// worded for the windowed programs ("libToveri: no board ... found — ...").
// While a library call runs inside Hold, file descriptor 2 of the process
// points into a pipe: a reader thread keeps the lines that are the library's
// own, so that tarnelctl can say the cause in its own one line (or nothing,
// for a probe whose failure is the expected answer), and passes every other
// line (a Qt warning, a sanitizer report, a line printed by another thread)
// on to the real stderr at once and unchanged.
//
// One call is held at a time in the process; calls from other threads wait
// for the one running.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace tarnel::cli {

class LibraryStderr {
public:
    // The most library lines kept between two Takes; later ones are dropped.
    static constexpr std::size_t kMostKeptLines = 64;

    LibraryStderr();
    ~LibraryStderr();
    LibraryStderr(const LibraryStderr&) = delete;
    LibraryStderr& operator=(const LibraryStderr&) = delete;

    // Runs call with the process's stderr going through the line sorter.
    template <typename Call>
    auto Hold(Call&& call) -> decltype(call()) {
        const Diversion diversion(*this);
        return call();
    }

    // The first library line kept since the last Take, without the library's
    // name in front ("libToveri: "); empty when the library said nothing.
    std::string Take();

private:
    class Diversion {
    public:
        explicit Diversion(LibraryStderr& messages);
        ~Diversion();
        Diversion(const Diversion&) = delete;
        Diversion& operator=(const Diversion&) = delete;

    private:
        std::unique_lock<std::mutex> held_;   // one diversion in the process at a time
        LibraryStderr& messages_;
        bool diverted_ = false;
    };

    void ReadLoop();
    // With sorting_ held: reads what the pipe holds now and sorts its whole lines.
    void Drain();
    // With sorting_ held: sorts one line (with its line end, if any).
    void Sort(const std::string& line);

    int readEnd_ = -1;    // -1: no pipe, the library's lines reach stderr as they come
    int writeEnd_ = -1;
    int wakeRead_ = -1;   // written once to end the reader
    int wakeWrite_ = -1;

    std::mutex sorting_;                 // guards everything below
    int realStderr_ = -1;                // stderr as it was before the call; -1 when none is held
    std::string partial_;                // bytes after the last line end
    std::deque<std::string> kept_;       // the library's lines, oldest first
    std::thread reader_;
};

}  // namespace tarnel::cli
