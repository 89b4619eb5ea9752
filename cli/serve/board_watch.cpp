#include "serve/board_watch.h"

#include <utility>

namespace tarnel::cli {

BoardWatch::BoardWatch(Lister list, Arrival arrived, std::chrono::milliseconds interval,
                       std::set<std::string> attachedNow)
    : list_(std::move(list)),
      arrived_(std::move(arrived)),
      interval_(interval),
      attached_(std::move(attachedNow)),
      thread_([this] { Loop(); }) {}

BoardWatch::~BoardWatch() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void BoardWatch::Loop() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, interval_, [this] { return stop_; })) return;
        }
        std::optional<std::set<std::string>> now = list_();
        if (!now) continue;
        for (const std::string& path : *now) {
            if (attached_.contains(path)) continue;
            {
                const std::lock_guard lock(mutex_);
                if (stop_) return;
            }
            arrived_(path);
        }
        attached_ = std::move(*now);
    }
}

}  // namespace tarnel::cli
