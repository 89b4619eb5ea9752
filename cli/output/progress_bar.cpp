#include "output/progress_bar.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace tarnel::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string Duration(double seconds) {
    const long whole = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// "[#####.....] 12/65 points  512.3 points/s  0:03 left"
std::string Line(std::size_t done, std::size_t total, double elapsedSeconds) {
    const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
    char text[96];
    std::snprintf(text, sizeof text, "%zu/%zu points", done, total);
    line += text;
    if (done > 0 && elapsedSeconds > 0) {
        const double rate = static_cast<double>(done) / elapsedSeconds;
        std::snprintf(text, sizeof text, "  %.1f points/s  %s left", rate,
                      Duration(static_cast<double>(total - done) / rate).c_str());
        line += text;
    }
    return line;
}

}  // namespace

ProgressBar::ProgressBar(std::size_t total) : enabled_(::isatty(STDERR_FILENO) == 1), total_(total) {}

ProgressBar::~ProgressBar() {
    if (drawn_) std::fputs("\r\033[K", stderr);
}

void ProgressBar::Update(std::size_t done) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && done < total_ && now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    drawn_ = true;
    const std::string line = Line(done, total_, std::chrono::duration<double>(now - start_).count());
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
}

}  // namespace tarnel::cli
