#include "soak_tally.h"

namespace tarnel::bench {

void Tally::Note(const std::string& what) {
    ++wrong;
    if (firstWrong.size() < 3) firstWrong.push_back(what);
}

void Tally::Problem(const std::string& what) {
    if (firstProblems.size() < 3) firstProblems.push_back(what);
}

void Tally::Add(const Tally& other) {
    pairs += other.pairs;
    wrong += other.wrong;
    lockRefusals += other.lockRefusals;
    refused += other.refused;
    dropped += other.dropped;
    unanswered += other.unanswered;
    reconnects += other.reconnects;
    locksHeld += other.locksHeld;
    locksWaitedOut += other.locksWaitedOut;
    latencyMicroseconds.insert(latencyMicroseconds.end(), other.latencyMicroseconds.begin(),
                               other.latencyMicroseconds.end());
    refusals.insert(refusals.end(), other.refusals.begin(), other.refusals.end());
    awayReplies.insert(awayReplies.end(), other.awayReplies.begin(), other.awayReplies.end());
    locks.insert(locks.end(), other.locks.begin(), other.locks.end());
    unsettled.insert(unsettled.end(), other.unsettled.begin(), other.unsettled.end());
    for (const auto& what : other.firstWrong) {
        if (firstWrong.size() < 6) firstWrong.push_back(what);
    }
    for (const auto& what : other.firstProblems) {
        if (firstProblems.size() < 6) firstProblems.push_back(what);
    }
}

}  // namespace tarnel::bench
