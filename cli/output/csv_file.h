// A CSV file written row by row, each row flushed as soon as it is given, so
// that the file is valid with every finished row whenever the work stops.
// "-" is stdout.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarnel::cli {

class CsvFile {
public:
    // Creates (or empties) the file at path and writes the header. A file
    // that cannot be written throws CommandFailure(Failed).
    CsvFile(const std::string& path, const std::string& header);
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // One row, without its line end.
    void WriteLine(const std::string& line);

    // Replaces the rows written so far by `rows` in one step: a new file
    // beside this one, renamed over it, so that a failure leaves the old rows
    // in place. Not for stdout, where rows cannot be taken back.
    void Rewrite(const std::vector<std::string>& rows);

private:
    void Close();   // closes the file unless it is stdout
    [[noreturn]] void Fail(const std::string& path) const;

    std::string path_;
    std::string header_;
    std::FILE* file_ = nullptr;   // stdout for "-"
};

}  // namespace tarnel::cli
