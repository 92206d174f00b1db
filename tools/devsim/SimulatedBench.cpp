#include "SimulatedBench.h"

#include "Balance.h"
#include "Events.h"

#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace devsim {

bool SimulatedBench::start() {
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
//
// A two-wire line carries one frame at a time. The station's bytes cross it one after the
// other from the moment they are read (a pseudo-terminal has no baud rate); a frame ends
// after 3.5 characters of silence, whatever its length, and the addressed slave answers
// after its turnaround. A byte that comes while a reply is due or on the line garbles both:
// the rest of the reply is lost and the request is dropped.

void SimulatedBench::takeIn(Line& l, double now) {
    const bool modbus = &l == &bus || &l == &lights;
    unsigned char buf[512];
    ssize_t n;
    while (l.plugged && (n = read(l.master, buf, sizeof buf)) > 0)
        if (modbus)
            for (ssize_t i = 0; i < n; ++i)
                receiveByte(l, buf[i], now);
    // The text balances ignore what they are sent.
}

void SimulatedBench::receiveByte(Line& l, unsigned char byte, double now) {
    const double start = std::max(now, l.inWireEnd);
    if (!l.in.empty() && start - l.inWireEnd >= kSilenceMs)
        endFrame(l);
    if (start < l.lineFreeAt) {
        const size_t lost = l.cutOutgoing(start);
        if (lost > 0)
            logEvent("collision %s %zu", l.name.c_str(), lost);
        l.inGarbled = true;
    }
    l.in.push_back(byte);
    l.inWireEnd = start + kByteMs;
}

void SimulatedBench::endFrames(double now) {
    for (Line* l : {&bus, &lights})
        if (now >= l->frameEndsAt())
            endFrame(*l);
}

void SimulatedBench::endFrame(Line& l) {
    std::vector<unsigned char> frame;
    frame.swap(l.in);
    if (std::exchange(l.inGarbled, false)) {
        logEvent("bad-frame %s collision %s", l.name.c_str(),
                 hexOf(frame.data(), frame.size()).c_str());
        return;
    }
    dispatch(l, frame, l.inWireEnd);
}

double SimulatedBench::turnaroundFor(const Line& l, int address) const {
    std::vector<std::string> keys;
    if (&l == &lights)
        keys = {"lights " + std::to_string(address), "lights"};
    else if (const Balance* b = balanceNamed(std::to_string(address)))
        keys = {b->name};
    for (const std::string& k : keys)
        if (auto it = turnarounds.find(k); it != turnarounds.end())
            return it->second;
    return turnaround;
}

void SimulatedBench::dispatch(Line& l, const std::vector<unsigned char>& frame, double arrived) {
    const char* line = l.name.c_str();
    const std::string hex = hexOf(frame.data(), frame.size());
    // What no slave answers: a broken frame, or one for nobody on this line.
    if (frame.size() < 4) {
        logEvent("bad-frame %s incomplete %s", line, hex.c_str());
        return;
    }
    if (!crcValid(frame)) {
        logEvent("bad-frame %s bad-checksum %s", line, hex.c_str());
        return;
    }
    const int address = frame[0];
    if (address == 0) {
        broadcast(l, frame);
        return;
    }
    std::map<int, Slave>& table = &l == &bus ? busSlaves : slaves;
    auto it = table.find(address);
    if (it == table.end()) {
        logEvent("bad-frame %s no-slave %s", line, hex.c_str());
        return;
    }
    const Balance* b = &l == &bus ? balanceNamed(std::to_string(address)) : nullptr;
    if (b && b->silent)
        return;
    const size_t length = requestLength(frame);
    if (length != 0 && length != frame.size()) {
        logEvent("bad-frame %s bad-length %s", line, hex.c_str());
        return;
    }
    const std::map<int, int>& forced = b ? balanceExceptions : lightExceptions;
    std::vector<unsigned char> reply;
    int code = forced.count(address) ? forced.at(address) : 0;
    if (code == 0)
        code = carryOut(l, it->second, frame, reply);
    if (code != 0) {
        reply = exceptionReply(address, frame[1], code);
        logEvent("exception-reply %s %d %02X", line, address, code);
    }
    if (!reply.empty())
        l.send(reply, arrived + turnaroundFor(l, address));
}

int SimulatedBench::carryOut(Line& l, Slave& s, const std::vector<unsigned char>& frame,
                             std::vector<unsigned char>& reply) {
    const char* line = l.name.c_str();
    const std::string hex = hexOf(frame.data(), frame.size());
    if (requestLength(frame) == 0) {
        logEvent("bad-frame %s illegal-function %s", line, hex.c_str());
        return kIllegalFunction;
    }
    if (&l == &lights && !lightOutputsValid(frame)) {
        logEvent("bad-frame %s bad-coil %s", line, hex.c_str());
        return kIllegalAddress;
    }
    if (const int code = s.exceptionFor(frame)) {
        logEvent("bad-frame %s %s %s", line,
                 code == kIllegalAddress ? "illegal-address" : "illegal-value", hex.c_str());
        return code;
    }
    Balance* b = &l == &bus ? balanceNamed(std::to_string(s.address)) : nullptr;
    if (b) {
        const long long r = b->reading();
        const unsigned long long mag = (unsigned long long)(r < 0 ? -r : r);
        s.map->tab_registers[1] = b->register1(nowMs());
        s.map->tab_registers[2] = uint16_t(mag >> 16);
        s.map->tab_registers[3] = uint16_t(mag & 0xFFFF);
    }
    std::vector<bool> before(s.map->tab_bits, s.map->tab_bits + 16);
    std::string why;
    std::optional<std::vector<unsigned char>> answer = s.handle(frame, why);
    if (!answer) {
        logEvent("bad-frame %s %s %s", line, why.c_str(), hex.c_str());
        return 0;
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
        lightChanges(s.address, frame, before, s.map->tab_bits);
    }
    reply = std::move(*answer);
    return 0;
}

// A write to slave 0 is carried out by every slave on the line that can, and answered by
// none.
void SimulatedBench::broadcast(Line& l, const std::vector<unsigned char>& frame) {
    logEvent("broadcast %s %s", l.name.c_str(), hexOf(frame.data(), frame.size()).c_str());
    const int f = frame[1];
    if ((f != 5 && f != 6 && f != 15 && f != 16) || requestLength(frame) != frame.size())
        return;
    const bool onBus = &l == &bus;
    for (auto& [address, slave] : onBus ? busSlaves : slaves) {
        const Balance* b = onBus ? balanceNamed(std::to_string(address)) : nullptr;
        if ((b && b->silent) || (onBus ? balanceExceptions : lightExceptions).count(address))
            continue;
        // libmodbus serves one address: the frame is handed to each slave as its own.
        std::vector<unsigned char> own(frame.begin(), frame.end() - 2);
        own[0] = uint8_t(address);
        appendCrc(own);
        if (&l == &lights && !lightOutputsValid(own))
            continue;
        if (slave.exceptionFor(own) != 0)
            continue;
        std::vector<unsigned char> unused;
        carryOut(l, slave, own, unused);
    }
}

void SimulatedBench::lightChanges(int module, const std::vector<unsigned char>& frame,
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

void SimulatedBench::textFrames(double now) {
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
