// The board-access libraries write one line to stderr for every failure,
// worded for the windowed programs. While a library call runs inside Hold,
// those lines are kept instead of printed, so that tarnelctl can say the
// cause in its own one line, or say nothing for a probe whose failure is the
// expected answer ("no firmware yet"). Lines tarnelctl prints from another
// thread meanwhile wait for the call to end (cli/stderr_lines.h).
#pragma once

#include <string>

#include "cli/stderr_lines.h"

namespace tarnel::cli {

class LibraryMessages {
public:
    LibraryMessages();
    ~LibraryMessages();
    LibraryMessages(const LibraryMessages&) = delete;
    LibraryMessages& operator=(const LibraryMessages&) = delete;

    // Runs call with the process's stderr going to the kept lines.
    template <typename Call>
    auto Hold(Call&& call) -> decltype(call()) {
        const Diversion diversion(*this);
        return call();
    }

    // The first line kept since the last Take, without the library's name in
    // front ("libToveri: "); empty when the library said nothing.
    std::string Take();

private:
    class Diversion {
    public:
        explicit Diversion(LibraryMessages& messages);
        ~Diversion();
        Diversion(const Diversion&) = delete;
        Diversion& operator=(const Diversion&) = delete;

    private:
        StderrDiversionLock lock_;   // first: held until stderr is back
        int keptLines_;
        int stderr_ = -1;   // stderr as it was before the call
    };

    int keptLines_ = -1;   // in-memory file the lines go to; -1: lines are printed as they come
};

}  // namespace tarnel::cli
