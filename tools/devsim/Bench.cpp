#include "Bench.h"

#include "Balance.h"
#include "Events.h"

#include <sys/stat.h>
#include <tuple>

namespace devsim {

bool Bench::start() {
    mkdir(dir.c_str(), 0755);
    for (Line* l : all()) {
        l->link = dir + "/" + l->name;
        if (!l->plug())
            return false;
    }
    for (int a = 1; a <= 16; ++a)
        if (!slaves[a].start(a))
            return false;
    for (int a : {3, 4})
        if (!busSlaves[a].start(a))
            return false;
    return true;
}

// ---- Modbus lines

void Bench::takeIn(Line& l, double now) {
    unsigned char buf[512];
    ssize_t n;
    while (l.plugged && (n = read(l.master, buf, sizeof buf)) > 0) {
        l.in.insert(l.in.end(), buf, buf + n);
        l.lastIn = now;
    }
    if (&l == &bus || &l == &lights)
        cutFrames(l, now);
    else
        l.in.clear(); // the text balances ignore what they are sent
}

void Bench::cutFrames(Line& l, double now) {
    while (!l.in.empty()) {
        const int len = requestLength(l.in);
        if (len < 0) {
            logEvent("bad-frame %s unknown-function %s", l.name.c_str(),
                     hexOf(l.in.data(), l.in.size()).c_str());
            l.in.clear();
            return;
        }
        if (len == 0 || int(l.in.size()) < len)
            return;
        std::vector<unsigned char> frame(l.in.begin(), l.in.begin() + len);
        l.in.erase(l.in.begin(), l.in.begin() + len);
        // The frame has only fully arrived once its bytes have crossed the line, after
        // those of any frame sent before it.
        l.inFreeAt = std::max(now, l.inFreeAt) + len * kByteMs;
        dispatch(l, frame, l.inFreeAt);
    }
}

// A partial frame followed by silence is a broken frame.
void Bench::dropStalePartial(Line& l, double now) {
    if (!l.in.empty() && now - l.lastIn > 50) {
        logEvent("bad-frame %s incomplete %s", l.name.c_str(),
                 hexOf(l.in.data(), l.in.size()).c_str());
        l.in.clear();
    }
}

void Bench::dispatch(Line& l, const std::vector<unsigned char>& frame, double arrived) {
    const int address = frame[0];
    std::map<int, Slave>& table = &l == &bus ? busSlaves : slaves;
    auto it = table.find(address);
    if (it == table.end()) {
        logEvent("bad-frame %s no-slave %s", l.name.c_str(),
                 hexOf(frame.data(), frame.size()).c_str());
        return;
    }
    Slave& s = it->second;
    if (&l == &lights && !lightOutputsValid(frame)) {
        logEvent("bad-frame %s bad-coil %s", l.name.c_str(),
                 hexOf(frame.data(), frame.size()).c_str());
        return;
    }
    Balance* b = &l == &bus ? balanceNamed(std::to_string(address)) : nullptr;
    if (b) {
        if (b->silent)
            return;
        const long long r = b->reading();
        const unsigned long long mag = (unsigned long long)(r < 0 ? -r : r);
        s.map->tab_registers[1] = b->register1(nowMs());
        s.map->tab_registers[2] = uint16_t(mag >> 16);
        s.map->tab_registers[3] = uint16_t(mag & 0xFFFF);
    }
    std::vector<bool> before(s.map->tab_bits, s.map->tab_bits + 16);
    std::string why;
    std::optional<std::vector<unsigned char>> reply = s.handle(frame, why);
    if (!reply) {
        logEvent("bad-frame %s %s %s", l.name.c_str(), why.c_str(),
                 hexOf(frame.data(), frame.size()).c_str());
        return;
    }
    if (b) {
        if (s.map->tab_bits[240]) {
            s.map->tab_bits[240] = 0;
            b->tare = b->gross;
            logEvent("zero %s", b->name);
        }
        if (frame[1] == 3)
            logQuiet("read %s", b->name);
    } else {
        lightChanges(address, frame, before, s.map->tab_bits);
    }
    if (!reply->empty())
        l.send(*reply, arrived + turnaround);
}

void Bench::lightChanges(int module, const std::vector<unsigned char>& frame,
                         const std::vector<bool>& before, const uint8_t* after) {
    if (frame[1] == 15) {
        logEvent("module-off %d", module);
        autoOperator.seesSweep();
    }
    for (int o = 0; o < 8; ++o) {
        const int position = (module - 1) * 8 + o + 1;
        if (frame[1] == 5 && int(frame[3]) == o && frame[2] == 0)
            logEvent("light %s %d", after[o] ? "on" : "off", position);
        if (bool(after[o]) != bool(before[size_t(o)])) {
            if (after[o]) {
                lit.insert(position);
                autoOperator.seesOn(position);
            } else {
                lit.erase(position);
                autoOperator.seesOff(position);
            }
        }
    }
    std::string s;
    for (int p : lit)
        s += " " + std::to_string(p);
    logEvent("lit%s", s.empty() ? " none" : s.c_str());
}

// ---- text balances

void Bench::textFrames(double now) {
    g_small.watch(now);
    g_large.watch(now);
    for (auto [line, bal, next] : {std::make_tuple(&small, &g_small, &nextSmallFrame),
                                   std::make_tuple(&large, &g_large, &nextLargeFrame)}) {
        if (!line->plugged || bal->silent) {
            *next = now;
            continue;
        }
        const bool backToBack = rate <= 0;
        // Back to back: the next frame is queued as the line is about to run dry.
        const bool due = backToBack ? line->lineFreeAt <= now + 2 * kByteMs : now >= *next;
        if (!due)
            continue;
        if (ramp)
            bal->gross += 1;
        const std::vector<unsigned char> f = bal->textFrame(now);
        std::function<void()> done;
        if (frameLog) {
            const double grams = bal->grams();
            const char* name = bal->name;
            done = [grams, name] {
                if (g_log) {
                    fprintf(g_log, "%.1f frame %s %.2f %lld\n", nowMs() - g_start, name, grams,
                            nowNs());
                    fflush(g_log);
                }
            };
        }
        line->send(f, now, done);
        *next = backToBack ? now : std::max(*next + 1000.0 / rate, now);
    }
}

} // namespace devsim
