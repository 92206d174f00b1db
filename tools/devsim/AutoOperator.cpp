#include "AutoOperator.h"

#include "Events.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace devsim {

using namespace layout;

std::optional<Job> AutoOperator::currentJob() const {
    const std::string q = readFile(dir + "/START_DISPEN.txt");
    if (q.size() < kJobRecord)
        return std::nullopt;
    Job j;
    j.record = q.substr(0, kJobRecord);
    j.order = trim(j.record.substr(kOrderAt, kOrderWidth));
    for (int i = 0; i < kLines; ++i) {
        j.codes.push_back(trim(j.record.substr(kCodeAt + kCodeWidth * size_t(i), kCodeWidth)));
        j.targets.push_back(
            atof(j.record.substr(kTargetAt + kTargetWidth * size_t(i), kTargetWidth).c_str()));
    }
    return j;
}

AutoOperator::Progress AutoOperator::progressOf(const Job& j) const {
    Progress p;
    const std::string journal = readFile(dir + "/JOURNAL.txt");
    if (journal.size() < kJournalText || journal.compare(0, kJobRecord, j.record) != 0)
        return p;
    size_t at = kJournalText;
    while (at < journal.size()) {
        const size_t end = std::min(journal.find('\n', at), journal.size());
        const std::string line = journal.substr(at, end - at);
        at = end + 1;
        int n = 0;
        char amount[64] = {};
        if (sscanf(line.c_str(), "accepted %d", &n) == 1)
            p.accepted.insert(n - 1);
        else if (sscanf(line.c_str(), "current %d %63s", &n, amount) == 2) {
            p.current = n - 1;
            p.amount = atof(amount); // a decimal text: percent-encoding leaves it alone
        }
    }
    return p;
}

int AutoOperator::firstOpenLine(const Job& j) const {
    const Progress p = progressOf(j);
    for (int i = 0; i < kLines; ++i)
        if (!j.codes[size_t(i)].empty() && !p.accepted.count(i))
            return i;
    return kLines;
}

int AutoOperator::lightOf(const std::string& code) const {
    const std::string key = code.substr(0, code.find(' '));
    const std::string map = readFile(dir + "/DYE_LIGHT.txt");
    for (size_t j = 0; j < kLights && j * kLightRecord < map.size(); ++j)
        if (!key.empty() && trim(map.substr(j * kLightRecord, kLightRecord)) == key)
            return int(j + 1);
    return 0;
}

Balance* AutoOperator::balanceFor(double target) const {
    const std::string set = readFile(dir + "/set.txt");
    const double threshold = set.size() >= kThresholdAt + kThresholdWidth
                                 ? atof(set.substr(kThresholdAt, kThresholdWidth).c_str())
                                 : 0;
    return threshold <= target ? &g_large : &g_small;
}

void AutoOperator::later(double ms, Balance* b, std::function<void()> f) {
    m_actions.push_back({nowMs() + ms, b, std::move(f)});
}

void AutoOperator::cancelFor(Balance* b) {
    m_actions.erase(std::remove_if(m_actions.begin(), m_actions.end(),
                                   [b](const Action& a) { return a.balance == b; }),
                    m_actions.end());
}

// A container on the next line's balance; it is zeroed once the station has asked
// for it (about a second later), so the station sees the container first and then 0.
void AutoOperator::prepareContainer(const Job& j, int line, double delay, bool zeroToo) {
    if (line >= kLines || j.codes[size_t(line)].empty())
        return;
    Balance* b = balanceFor(j.targets[size_t(line)]);
    const double container = b == &g_small ? 25.0 : 350.0;
    later(delay, b, [b, container, line] {
        b->gross = b->tare + b->counts(container);
        logEvent("auto container %s line %d", b->name, line + 1);
    });
    if (zeroToo)
        zeroLater(b, delay + 1100);
}

void AutoOperator::zeroLater(Balance* b, double delay) {
    later(delay, b, [b] {
        b->tare = b->gross;
        logEvent("auto zero %s", b->name);
    });
}

void AutoOperator::seesOn(int position) {
    if (dir.empty())
        return;
    // A light may come on for a job that the queue poll has not noticed yet: notice it
    // first, or the lines done in the previous job would count as done in this one.
    pollQueue(nowMs(), true);
    std::optional<Job> j = currentJob();
    if (!j)
        return;
    const Progress progress = progressOf(*j);
    for (int i = 0; i < kLines; ++i) {
        if (j->codes[size_t(i)].empty() || lightOf(j->codes[size_t(i)]) != position)
            continue;
        if (progress.accepted.count(i)) {
            // The station asks again for a line it has accepted: a line weighed twice.
            logEvent("auto relit accepted line %d", i + 1);
            continue;
        }
        const double target = j->targets[size_t(i)];
        // A line resumed after the station was restarted already holds what was poured
        // before: only the rest goes into the new container.
        const double already = progress.current == i ? progress.amount : 0;
        const double rest = std::max(0.0, target - already);
        Balance* b = balanceFor(target);
        cancelFor(b);
        if (m_firstZero == b)
            m_firstZero = nullptr; // the pan is zeroed now; a later zero would undo the pour
        b->tare = b->gross;        // a person zeroes before pouring
        m_pouring[position] = i;
        if (scan) {
            const std::string& code = j->codes[size_t(i)];
            scan("scan " + code.substr(0, code.find(' ')) + "|AUTO-" + std::to_string(i + 1));
        }
        logEvent("auto pour %s line %d target %.2f already %.2f", b->name, i + 1, target, already);
        const long long base = b->tare;
        // A whole line in three steps; the rest of a resumed line, a small amount, in one,
        // since a step short of it could already lie within the tolerance.
        const auto steps =
            already > 0
                ? std::vector<std::pair<double, double>>{{300.0, 1.0}}
                : std::vector<std::pair<double, double>>{{300.0, 0.5}, {700.0, 0.9}, {1100.0, 1.0}};
        for (auto [ms, part] : steps)
            later(ms, b, [b, base, rest, part] { b->gross = base + b->counts(rest * part); });
        return;
    }
}

void AutoOperator::seesOff(int position) {
    auto it = m_pouring.find(position);
    if (it == m_pouring.end())
        return;
    const int line = it->second;
    m_pouring.erase(it);
    std::optional<Job> j = currentJob();
    if (!j)
        return;
    Balance* b = balanceFor(j->targets[size_t(line)]);
    cancelFor(b); // a pour still under way when the station went down ends here
    // The next line the station will ask for: after an acceptance the one after it; after
    // the station was restarted in the middle of a line, that line again.
    const int next = firstOpenLine(*j);
    const bool sameBalance = next < kLines && !j->codes[size_t(next)].empty() &&
                             balanceFor(j->targets[size_t(next)]) == b;
    // The station looks at the next line's balance one tick (200 ms) after this light
    // went out and must see something on it then: on the same balance the poured dye
    // stays until that look; another balance gets its container at once.
    const double takeAt = sameBalance ? 400 : 50;
    later(takeAt, b, [b, line] {
        b->gross = b->tare = 0;
        logEvent("auto take %s line %d", b->name, line + 1);
    });
    prepareContainer(*j, next, sameBalance ? takeAt + 50 : 0);
}

void AutoOperator::pollQueue(double now, bool force) {
    if (dir.empty() || (!force && now < m_nextQueuePoll))
        return;
    m_nextQueuePoll = now + 250;
    const std::string q = readFile(dir + "/START_DISPEN.txt");
    const long long count = (long long)(q.size() / kJobRecord);
    const std::string first = count ? q.substr(0, kJobRecord) : std::string();
    if (count && (first != m_lastRecord || count < m_lastCount)) {
        m_pouring.clear();
        m_firstZero = nullptr;
        std::optional<Job> j = currentJob();
        logEvent("auto job %s", j ? j->order.c_str() : "?");
        // The first line the station asks for: line 1, or the line it resumes.
        const int first = j ? firstOpenLine(*j) : kLines;
        if (first < kLines) {
            prepareContainer(*j, first, 100, false);
            m_firstZero = balanceFor(j->targets[size_t(first)]);
        }
    }
    m_lastRecord = first;
    m_lastCount = count;
}

void AutoOperator::runActions(double now) {
    std::vector<Action> due;
    for (auto it = m_actions.begin(); it != m_actions.end();) {
        if (it->due <= now) {
            due.push_back(*it);
            it = m_actions.erase(it);
        } else {
            ++it;
        }
    }
    std::sort(due.begin(), due.end(),
              [](const Action& a, const Action& b) { return a.due < b.due; });
    for (Action& a : due)
        a.run();
}

double AutoOperator::nextAction() const {
    double t = 1e300;
    for (const Action& a : m_actions)
        t = std::min(t, a.due);
    return t;
}

void AutoOperator::seesSweep() {
    // The sweep at the start of a job: the station asks for line 1's container a few ticks
    // later.
    if (m_firstZero) {
        zeroLater(m_firstZero, 1200);
        m_firstZero = nullptr;
    }
}

} // namespace devsim
