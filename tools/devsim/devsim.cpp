// devsim: plays the weighing bench's hardware on pseudo-terminals.
//
//   small   the small balance (3000 g, 0.01 g), 16-character text frames
//   large   the large balance (28 kg, 0.1 g), 13-character text frames
//   bus     both balances as Modbus RTU slaves 3 (small) and 4 (large)
//   lights  the light modules, Modbus RTU slaves 1..16, coils 0..7
//   control a named pipe that takes the same commands as standard input
//
// Every line is timed like a 9600-baud line: a byte takes 10 bit times (1.04 ms), a
// request is only complete after its own bytes have crossed the line, and a slave answers
// after a few milliseconds of turnaround. The Modbus side is libmodbus: each slave is a
// libmodbus RTU server on its own socket pair, which checks the request's checksum and
// builds the reply; devsim only cuts the byte stream into frames and routes them by slave
// address. Nothing here is shared with the station.
//
// Events go to a log file, one line each: "<ms> <event> <arguments>".

#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kByteMs = 10.0 * 1000.0 / 9600.0;

double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

long long nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

double g_start = nowMs();
FILE* g_log = nullptr;
bool g_quit = false;

void writeEvent(bool echo, const char* fmt, va_list ap) {
    char text[1024];
    vsnprintf(text, sizeof text, fmt, ap);
    if (g_log) {
        fprintf(g_log, "%.1f %s\n", nowMs() - g_start, text);
        fflush(g_log);
    }
    if (echo) {
        fprintf(stdout, "%s\n", text);
        fflush(stdout);
    }
}

// An event for the log and the person watching.
void logEvent(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    writeEvent(true, fmt, ap);
    va_end(ap);
}

// A frequent event (every poll), for the log only.
void logQuiet(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    writeEvent(false, fmt, ap);
    va_end(ap);
}

std::string hexOf(const unsigned char* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

// ---- one pseudo-terminal, named by a symbolic link

struct Line {
    explicit Line(std::string n) : name(std::move(n)) {}
    std::string name;
    std::string link;
    int master = -1;
    int slave = -1; // held open so the master never sees a hang-up between station opens
    bool plugged = false;
    double lineFreeAt = 0;
    struct Out {
        double due;
        unsigned char byte;
        std::function<void()> done; // after the byte has been written (end of a frame)
    };
    std::deque<Out> out;
    std::vector<unsigned char> in;
    double lastIn = 0;
    double inFreeAt = 0; // when the last request taken in has fully crossed the line

    bool plug() {
        char pts[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        cfsetispeed(&raw, B9600);
        cfsetospeed(&raw, B9600);
        if (openpty(&master, &slave, pts, &raw, nullptr) != 0) {
            logEvent("error %s openpty: %s", name.c_str(), strerror(errno));
            return false;
        }
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        unlink(link.c_str());
        if (symlink(pts, link.c_str()) != 0) {
            logEvent("error %s symlink %s: %s", name.c_str(), link.c_str(), strerror(errno));
            return false;
        }
        plugged = true;
        out.clear();
        in.clear();
        logEvent("plugged %s %s", name.c_str(), pts);
        return true;
    }
    void unplug() {
        if (!plugged)
            return;
        unlink(link.c_str());
        close(master);
        close(slave);
        master = slave = -1;
        plugged = false;
        out.clear();
        in.clear();
        logEvent("unplugged %s", name.c_str());
    }
    // Queues bytes to leave at line speed, starting no earlier than `earliest`.
    void send(const std::vector<unsigned char>& bytes, double earliest,
              std::function<void()> done = {}) {
        double t = std::max(earliest, lineFreeAt);
        for (size_t i = 0; i < bytes.size(); ++i) {
            t += kByteMs;
            out.push_back({t, bytes[i], i + 1 == bytes.size() ? done : std::function<void()>()});
        }
        lineFreeAt = t;
    }
    void flushDue(double now) {
        unsigned char buf[512];
        while (plugged && !out.empty() && out.front().due <= now) {
            size_t n = 0;
            std::vector<std::function<void()>> dones;
            while (n < sizeof buf && !out.empty() && out.front().due <= now) {
                buf[n++] = out.front().byte;
                if (out.front().done)
                    dones.push_back(out.front().done);
                out.pop_front();
            }
            // A full pseudo-terminal (nobody reading) loses bytes, as a line would.
            (void)!write(master, buf, n);
            for (auto& d : dones)
                d();
        }
    }
    double nextDue() const { return out.empty() ? 1e300 : out.front().due; }
};

// ---- balances

struct Balance {
    const char* name;
    int slave;
    double unit;         // grams per count
    int width;           // number field width of the text frame
    const char* tail;    // what follows the "g"
    long long gross = 0; // counts on the pan
    long long tare = 0;
    bool silent = false;
    long long reading() const { return gross - tare; }
    long long counts(double grams) const { return llround(grams / unit); }
    double grams() const { return double(reading()) * unit; }

    std::vector<unsigned char> textFrame() const {
        const long long r = reading();
        char number[32];
        snprintf(number, sizeof number, "%*.*f", width, unit < 0.05 ? 2 : 1,
                 std::fabs(double(r) * unit));
        std::string f = "S";
        f += r < 0 ? '-' : '+';
        if (int(strlen(number)) > width)
            f += std::string(size_t(width - 6), ' ') + "OVERLD";
        else
            f += number;
        f += 'g';
        f += tail;
        return {f.begin(), f.end()};
    }
};

Balance g_small{"small", 3, 0.01, 8, "   \r\n"};
Balance g_large{"large", 4, 0.1, 7, " \r\n"};

Balance* balanceNamed(const std::string& n) {
    if (n == "small" || n == "3")
        return &g_small;
    if (n == "large" || n == "4")
        return &g_large;
    return nullptr;
}

// ---- Modbus slaves on libmodbus

struct Slave {
    int address = 0;
    modbus_t* ctx = nullptr;
    modbus_mapping_t* map = nullptr;
    int peer = -1; // devsim's end of the socket pair

    bool start(int a) {
        address = a;
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
            return false;
        ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
        if (!ctx)
            return false;
        modbus_set_slave(ctx, a);
        modbus_set_socket(ctx, sv[0]);
        modbus_set_byte_timeout(ctx, 0, 20000);
        modbus_set_indication_timeout(ctx, 0, 20000);
        peer = sv[1];
        fcntl(peer, F_SETFL, fcntl(peer, F_GETFL) | O_NONBLOCK);
        map = modbus_mapping_new(256, 0, 8, 0);
        return map != nullptr;
    }
    // Hands a whole request frame to libmodbus. Returns the reply, or nothing when the
    // frame was refused (its reason in `why`).
    std::optional<std::vector<unsigned char>> handle(const std::vector<unsigned char>& frame,
                                                     std::string& why) {
        (void)!write(peer, frame.data(), frame.size());
        unsigned char req[MODBUS_RTU_MAX_ADU_LENGTH];
        const int n = modbus_receive(ctx, req);
        if (n <= 0) {
            why = n < 0 ? modbus_strerror(errno) : "not accepted";
            unsigned char junk[512];
            while (read(peer, junk, sizeof junk) > 0) {
            }
            return std::nullopt;
        }
        if (modbus_reply(ctx, req, n, map) < 0) {
            why = modbus_strerror(errno);
            return std::nullopt;
        }
        std::vector<unsigned char> reply;
        unsigned char buf[512];
        ssize_t r;
        while ((r = read(peer, buf, sizeof buf)) > 0)
            reply.insert(reply.end(), buf, buf + r);
        return reply;
    }
};

// The length of a request frame from its first bytes, or 0 while too few have come in;
// -1 for a function this bench does not know.
int requestLength(const std::vector<unsigned char>& b) {
    if (b.size() < 2)
        return 0;
    switch (b[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
        return 8;
    case 15:
    case 16:
        return b.size() < 7 ? 0 : 9 + b[6];
    default:
        return -1;
    }
}

// A light module drives outputs 0..7: a single-coil write must name one of them, and a
// multiple-coil write must start at one of them and span at most 16 coils (the module-off
// frame covers 16). Frames of other functions are left to libmodbus.
bool lightOutputsValid(const std::vector<unsigned char>& frame) {
    const int start = frame[2] << 8 | frame[3];
    if (frame[1] == 5)
        return start <= 7;
    if (frame[1] == 15)
        return start <= 7 && (frame[4] << 8 | frame[5]) <= 16;
    return true;
}

// ---- the whole bench

struct Job {
    std::string record;
    std::string order;
    std::vector<std::string> codes; // 10 lines, trimmed
    std::vector<double> targets;
};

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string readFile(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return {};
    std::string s;
    char buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

struct Bench {
    std::string dir;
    Line small{"small"}, large{"large"}, bus{"bus"}, lights{"lights"};
    std::map<int, Slave> slaves; // 1..16 lights, 3 and 4 balances (on different lines)
    std::map<int, Slave> busSlaves;
    std::set<int> lit;
    double rate = 10; // text frames per second per balance; 0 = back to back
    double turnaround = 3;
    bool frameLog = false;
    bool ramp = false;
    double nextSmallFrame = 0, nextLargeFrame = 0;
    std::string autoDir;

    // The automatic operator.
    struct Action {
        double due;
        Balance* balance;
        std::function<void()> run;
    };
    std::vector<Action> actions;
    double nextQueuePoll = 0;
    std::string lastRecord;
    long long lastCount = 0;
    std::map<int, int> pouring;   // lit position -> line index (0-based)
    Balance* firstZero = nullptr; // line 1's balance, zeroed when the job's sweep begins

    std::vector<Line*> all() { return {&small, &large, &bus, &lights}; }
    Line* lineNamed(const std::string& n) {
        for (Line* l : all())
            if (l->name == n)
                return l;
        return nullptr;
    }

    bool start() {
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

    // -- Modbus lines

    void takeIn(Line& l, double now) {
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

    void cutFrames(Line& l, double now) {
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
    void dropStalePartial(Line& l, double now) {
        if (!l.in.empty() && now - l.lastIn > 50) {
            logEvent("bad-frame %s incomplete %s", l.name.c_str(),
                     hexOf(l.in.data(), l.in.size()).c_str());
            l.in.clear();
        }
    }

    void dispatch(Line& l, const std::vector<unsigned char>& frame, double arrived) {
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
            s.map->tab_registers[1] = r < 0 ? 0x0000 : 0x0001;
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

    void lightChanges(int module, const std::vector<unsigned char>& frame,
                      const std::vector<bool>& before, const uint8_t* after) {
        if (frame[1] == 15) {
            logEvent("module-off %d", module);
            // The sweep at the start of a job: the station asks for line 1's container
            // a few ticks later.
            if (firstZero) {
                zeroLater(firstZero, 1200);
                firstZero = nullptr;
            }
        }
        for (int o = 0; o < 8; ++o) {
            const int position = (module - 1) * 8 + o + 1;
            if (frame[1] == 5 && int(frame[3]) == o && frame[2] == 0)
                logEvent("light %s %d", after[o] ? "on" : "off", position);
            if (bool(after[o]) != bool(before[size_t(o)])) {
                if (after[o]) {
                    lit.insert(position);
                    operatorSeesOn(position);
                } else {
                    lit.erase(position);
                    operatorSeesOff(position);
                }
            }
        }
        std::string s;
        for (int p : lit)
            s += " " + std::to_string(p);
        logEvent("lit%s", s.empty() ? " none" : s.c_str());
    }

    // -- text balances

    void textFrames(double now) {
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
            const std::vector<unsigned char> f = bal->textFrame();
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

    // -- commands

    void command(const std::string& text) {
        std::istringstream in(text);
        std::string verb, who;
        in >> verb >> who;
        if (verb.empty())
            return;
        double grams = 0;
        const bool hasNumber = bool(in >> grams);
        Balance* b = balanceNamed(who);
        if (verb == "quit") {
            g_quit = true;
        } else if (verb == "status") {
            std::string s;
            for (int p : lit)
                s += " " + std::to_string(p);
            logEvent("status small %.2f large %.1f lit%s", g_small.grams(), g_large.grams(),
                     s.empty() ? " none" : s.c_str());
        } else if ((verb == "unplug" || verb == "plug") && lineNamed(who)) {
            Line* l = lineNamed(who);
            if (verb == "unplug")
                l->unplug();
            else if (!l->plugged)
                l->plug();
        } else if (b && verb == "set" && hasNumber) {
            b->gross = b->tare + b->counts(grams);
            logEvent("weight %s %.2f", b->name, b->grams());
        } else if (b && (verb == "put" || verb == "pour") && hasNumber) {
            b->gross += b->counts(grams);
            logEvent("weight %s %.2f", b->name, b->grams());
        } else if (b && verb == "zero") {
            b->tare = b->gross;
            logEvent("weight %s %.2f", b->name, b->grams());
        } else if (b && verb == "take") {
            b->gross = b->tare = 0;
            logEvent("weight %s %.2f", b->name, b->grams());
        } else if (b && verb == "silent") {
            b->silent = true;
            logEvent("silent %s", b->name);
        } else if (b && verb == "resume") {
            b->silent = false;
            logEvent("resume %s", b->name);
        } else {
            logEvent("unknown-command %s", text.c_str());
        }
    }

    // -- the automatic operator: reads the queue and the light map as a person reads the
    // screen, pours what a lit line asks for and clears the pan when its light goes out.

    std::optional<Job> currentJob() {
        const std::string q = readFile(autoDir + "/START_DISPEN.txt");
        if (q.size() < 1460)
            return std::nullopt;
        Job j;
        j.record = q.substr(0, 1460);
        j.order = trim(j.record.substr(0, 50));
        for (int i = 0; i < 10; ++i) {
            j.codes.push_back(trim(j.record.substr(size_t(70 + 20 * i), 20)));
            j.targets.push_back(atof(j.record.substr(size_t(270 + 10 * i), 10).c_str()));
        }
        return j;
    }
    // What the station shows of the job at the head of the queue, as its journal holds it:
    // the lines accepted, and the line being weighed with its amount so far. A journal of
    // another job (or none) shows nothing.
    struct Progress {
        std::set<int> accepted; // line indexes (0-based)
        int current = -1;
        double amount = 0;
    };
    Progress progressOf(const Job& j) {
        Progress p;
        const std::string journal = readFile(autoDir + "/JOURNAL.txt");
        constexpr size_t kText = 1460 + 1600;
        if (journal.size() < kText || journal.compare(0, 1460, j.record) != 0)
            return p;
        size_t at = kText;
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
    int firstOpenLine(const Job& j) {
        const Progress p = progressOf(j);
        for (int i = 0; i < 10; ++i)
            if (!j.codes[size_t(i)].empty() && !p.accepted.count(i))
                return i;
        return 10;
    }
    int lightOf(const std::string& code) {
        const std::string key = code.substr(0, code.find(' '));
        const std::string map = readFile(autoDir + "/DYE_LIGHT.txt");
        for (size_t j = 0; j < 120 && j * 50 < map.size(); ++j)
            if (!key.empty() && trim(map.substr(j * 50, 50)) == key)
                return int(j + 1);
        return 0;
    }
    Balance* balanceFor(double target) {
        const std::string set = readFile(autoDir + "/set.txt");
        const double threshold = set.size() >= 2200 ? atof(set.substr(2100, 100).c_str()) : 0;
        return threshold <= target ? &g_large : &g_small;
    }
    void later(double ms, Balance* b, std::function<void()> f) {
        actions.push_back({nowMs() + ms, b, std::move(f)});
    }
    void cancelFor(Balance* b) {
        actions.erase(std::remove_if(actions.begin(), actions.end(),
                                     [b](const Action& a) { return a.balance == b; }),
                      actions.end());
    }
    // A container on the next line's balance; it is zeroed once the station has asked
    // for it (about a second later), so the station sees the container first and then 0.
    void prepareContainer(const Job& j, int line, double delay, bool zeroToo = true) {
        if (line >= 10 || j.codes[size_t(line)].empty())
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
    void zeroLater(Balance* b, double delay) {
        later(delay, b, [b] {
            b->tare = b->gross;
            logEvent("auto zero %s", b->name);
        });
    }
    void operatorSeesOn(int position) {
        if (autoDir.empty())
            return;
        // A light may come on for a job that the queue poll has not noticed yet: notice it
        // first, or the lines done in the previous job would count as done in this one.
        pollQueue(nowMs(), true);
        std::optional<Job> j = currentJob();
        if (!j)
            return;
        const Progress progress = progressOf(*j);
        for (int i = 0; i < 10; ++i) {
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
            if (firstZero == b)
                firstZero = nullptr; // the pan is zeroed now; a later zero would undo the pour
            b->tare = b->gross;      // a person zeroes before pouring
            pouring[position] = i;
            logEvent("auto pour %s line %d target %.2f already %.2f", b->name, i + 1, target,
                     already);
            const long long base = b->tare;
            for (auto [ms, part] : {std::pair{300.0, 0.5}, {700.0, 0.9}, {1100.0, 1.0}})
                later(ms, b, [b, base, rest, part] { b->gross = base + b->counts(rest * part); });
            return;
        }
    }
    void operatorSeesOff(int position) {
        auto it = pouring.find(position);
        if (it == pouring.end())
            return;
        const int line = it->second;
        pouring.erase(it);
        std::optional<Job> j = currentJob();
        if (!j)
            return;
        Balance* b = balanceFor(j->targets[size_t(line)]);
        cancelFor(b); // a pour still under way when the station went down ends here
        // The next line the station will ask for: after an acceptance the one after it; after
        // the station was restarted in the middle of a line, that line again.
        const int next = firstOpenLine(*j);
        const bool sameBalance = next < 10 && !j->codes[size_t(next)].empty() &&
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
    void pollQueue(double now, bool force = false) {
        if (autoDir.empty() || (!force && now < nextQueuePoll))
            return;
        nextQueuePoll = now + 250;
        const std::string q = readFile(autoDir + "/START_DISPEN.txt");
        const long long count = (long long)(q.size() / 1460);
        const std::string first = count ? q.substr(0, 1460) : std::string();
        if (count && (first != lastRecord || count < lastCount)) {
            pouring.clear();
            firstZero = nullptr;
            std::optional<Job> j = currentJob();
            logEvent("auto job %s", j ? j->order.c_str() : "?");
            // The first line the station asks for: line 1, or the line it resumes.
            const int first = j ? firstOpenLine(*j) : 10;
            if (first < 10) {
                prepareContainer(*j, first, 100, false);
                firstZero = balanceFor(j->targets[size_t(first)]);
            }
        }
        lastRecord = first;
        lastCount = count;
    }
    void runActions(double now) {
        std::vector<Action> due;
        for (auto it = actions.begin(); it != actions.end();) {
            if (it->due <= now) {
                due.push_back(*it);
                it = actions.erase(it);
            } else {
                ++it;
            }
        }
        std::sort(due.begin(), due.end(),
                  [](const Action& a, const Action& b) { return a.due < b.due; });
        for (Action& a : due)
            a.run();
    }
    double nextAction() const {
        double t = 1e300;
        for (const Action& a : actions)
            t = std::min(t, a.due);
        return t;
    }
};

void usage() {
    fprintf(
        stderr,
        "usage: devsim --dir DIR [--rate N|max] [--log FILE] [--auto WORKDIR] [--small G] [--large "
        "G]\n"
        "              [--turnaround MS] [--frame-log] [--ramp]\n"
        "Creates DIR/small, DIR/large, DIR/bus, DIR/lights (pseudo-terminals) and DIR/control.\n"
        "Commands (standard input or DIR/control): set|put|pour BAL GRAMS, zero|take|silent|resume "
        "BAL,\n"
        "unplug|plug small|large|bus|lights, status, quit.  BAL is small or large.\n");
}

} // namespace

int main(int argc, char** argv) {
    Bench bench;
    std::string logPath;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                exit(2);
            }
            return argv[++i];
        };
        if (a == "--dir")
            bench.dir = value();
        else if (a == "--rate") {
            const std::string v = value();
            bench.rate = v == "max" ? 0 : atof(v.c_str());
        } else if (a == "--log")
            logPath = value();
        else if (a == "--auto")
            bench.autoDir = value();
        else if (a == "--small")
            g_small.gross = g_small.counts(atof(value().c_str()));
        else if (a == "--large")
            g_large.gross = g_large.counts(atof(value().c_str()));
        else if (a == "--turnaround")
            bench.turnaround = atof(value().c_str());
        else if (a == "--frame-log")
            bench.frameLog = true;
        else if (a == "--ramp")
            bench.ramp = true;
        else {
            usage();
            return 2;
        }
    }
    if (bench.dir.empty()) {
        usage();
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTERM, [](int) { g_quit = true; });
    signal(SIGINT, [](int) { g_quit = true; });
    mkdir(bench.dir.c_str(), 0755);
    if (logPath.empty())
        logPath = bench.dir + "/events.log";
    g_log = fopen(logPath.c_str(), "w");
    if (!bench.start())
        return 1;

    const std::string fifo = bench.dir + "/control";
    unlink(fifo.c_str());
    mkfifo(fifo.c_str(), 0600);
    const int control = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const int keepWriter =
        open(fifo.c_str(), O_WRONLY | O_NONBLOCK); // no end-of-file when a writer leaves
    bool stdinOpen = true;
    std::string stdinText, controlText;
    logEvent("ready %s", bench.dir.c_str());

    auto takeLines = [&](int fd, std::string& text, bool& open) {
        char buf[1024];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) {
            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                open = false;
            return;
        }
        text.append(buf, size_t(n));
        size_t nl;
        while ((nl = text.find('\n')) != std::string::npos) {
            bench.command(text.substr(0, nl));
            text.erase(0, nl + 1);
        }
    };

    while (!g_quit) {
        const double now = nowMs();
        bench.textFrames(now);
        for (Line* l : bench.all())
            l->flushDue(now);
        bench.pollQueue(now);
        bench.runActions(now);

        std::vector<pollfd> fds;
        std::vector<Line*> owners;
        for (Line* l : bench.all())
            if (l->plugged) {
                fds.push_back({l->master, POLLIN, 0});
                owners.push_back(l);
            }
        const size_t controlAt = fds.size();
        fds.push_back({control, POLLIN, 0});
        if (stdinOpen)
            fds.push_back({0, POLLIN, 0});

        double wake = std::min(bench.nextAction(), now + 50);
        for (Line* l : bench.all())
            wake = std::min(wake, l->nextDue());
        if (bench.rate > 0)
            wake = std::min({wake, bench.nextSmallFrame, bench.nextLargeFrame});
        else
            wake = std::min(wake, now + kByteMs);
        const double waitMs = std::max(0.0, wake - nowMs());
        timespec ts{time_t(waitMs / 1000), long(std::fmod(waitMs, 1000.0) * 1e6)};
        const int r = ppoll(fds.data(), nfds_t(fds.size()), &ts, nullptr);
        if (r < 0 && errno != EINTR)
            break;
        const double after = nowMs();
        for (size_t k = 0; k < owners.size(); ++k)
            if (fds[k].revents & POLLIN)
                bench.takeIn(*owners[k], after);
        for (Line* l : {&bench.bus, &bench.lights})
            bench.dropStalePartial(*l, after);
        if (fds[controlAt].revents & POLLIN) {
            bool open = true;
            takeLines(control, controlText, open);
        }
        if (stdinOpen && fds.size() > controlAt + 1 &&
            (fds[controlAt + 1].revents & (POLLIN | POLLHUP)))
            takeLines(0, stdinText, stdinOpen);
    }
    logEvent("stopped");
    for (Line* l : bench.all())
        l->unplug();
    unlink(fifo.c_str());
    close(keepWriter);
    close(control);
    return 0;
}
