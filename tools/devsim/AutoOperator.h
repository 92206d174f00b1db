#pragma once
// The automatic operator: reads the queue, the light map and the station's journal from the
// station's working folder as a person reads the screen, pours what a lit line asks for (only
// what is still missing of a line the station resumed) and clears the pan when its light
// goes out.
#include "Balance.h"
#include "Layout.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace devsim {

class AutoOperator {
public:
    std::string dir; // the station's working folder; empty: no automatic operator
    // Set: the operator scans each container on the fixed scanner ("CODE|AUTO-n").
    std::function<void(const std::string&)> scan;

    // A light came on or went out on the light bus.
    void seesOn(int position);
    void seesOff(int position);
    // The light modules were switched off as a whole: the sweep at the start of a job.
    void seesSweep();
    // Notices a new job at the head of the queue (every 250 ms, or at once when forced).
    void pollQueue(double now, bool force = false);
    void runActions(double now);
    double nextAction() const;

private:
    struct Action {
        double due;
        Balance* balance;
        std::function<void()> run;
    };
    // What the station shows of the job at the head of the queue, as its journal holds it:
    // the lines accepted, and the line being weighed with its amount so far. A journal of
    // another job (or none) shows nothing.
    struct Progress {
        std::set<int> accepted; // line indexes (0-based)
        int current = -1;
        double amount = 0;
    };

    std::optional<Job> currentJob() const;
    Progress progressOf(const Job& j) const;
    int firstOpenLine(const Job& j) const;
    int lightOf(const std::string& code) const;
    Balance* balanceFor(double target) const;
    void later(double ms, Balance* b, std::function<void()> f);
    void cancelFor(Balance* b);
    void prepareContainer(const Job& j, int line, double delay, bool zeroToo = true);
    void zeroLater(Balance* b, double delay);

    std::vector<Action> m_actions;
    double m_nextQueuePoll = 0;
    std::string m_lastRecord;
    long long m_lastCount = 0;
    std::map<int, int> m_pouring;   // lit position -> line index (0-based)
    Balance* m_firstZero = nullptr; // line 1's balance, zeroed when the job's sweep begins
};

} // namespace devsim
