#include "output/csv_file.h"

#include <cerrno>
#include <cstring>

#include "command_line/command_failure.h"

namespace tarnel::cli {

namespace {

// One write per line: a row is either in the file whole or not at all.
bool PutLine(std::FILE* file, const std::string& line) {
    const std::string text = line + "\n";
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
}

}  // namespace

CsvFile::CsvFile(const std::string& path, const std::string& header) : path_(path), header_(header) {
    if (path == "-") {
        file_ = stdout;
    } else {
        file_ = std::fopen(path.c_str(), "w");
        if (file_ == nullptr) {
            throw CommandFailure(ExitStatus::Failed, "cannot write " + path + ": " + std::strerror(errno) +
                                                         " — give a --csv path in a folder you can write to");
        }
    }
    if (!PutLine(file_, header_)) {
        const int error = errno;
        Close();   // no destructor runs for an object that was never made
        errno = error;
        Fail(path_);
    }
}

CsvFile::~CsvFile() { Close(); }

void CsvFile::Close() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    file_ = nullptr;
}

void CsvFile::Fail(const std::string& path) const {
    throw CommandFailure(ExitStatus::Failed, "cannot write " + (path == "-" ? std::string("stdout") : path) + ": " +
                                                 std::strerror(errno) + " — free some space or pick another --csv path");
}

void CsvFile::WriteLine(const std::string& line) {
    if (file_ == nullptr || !PutLine(file_, line)) Fail(path_);
}

void CsvFile::Rewrite(const std::vector<std::string>& rows) {
    const std::string fresh = path_ + ".part";
    std::FILE* file = std::fopen(fresh.c_str(), "w");
    bool written = file != nullptr && PutLine(file, header_);
    for (std::size_t i = 0; written && i < rows.size(); ++i) written = PutLine(file, rows[i]);
    const int error = errno;
    if (file != nullptr && std::fclose(file) != 0) written = false;
    if (!written || std::rename(fresh.c_str(), path_.c_str()) != 0) {
        std::remove(fresh.c_str());
        errno = written ? errno : error;
        Fail(path_);
    }
    Close();   // its rows are in the new file now
}

}  // namespace tarnel::cli
