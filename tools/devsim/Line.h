#pragma once
// One pseudo-terminal of the bench, named by a symbolic link, timed like a 9600-baud line.
#include "Events.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace devsim {

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
    // The frame being received (Modbus lines): its bytes, when the last of them has crossed
    // the line, and whether it ran into a reply of a slave (then it is lost, and the reply
    // with it).
    std::vector<unsigned char> in;
    double inWireEnd = 0;
    bool inGarbled = false;

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
        inGarbled = false;
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
    // When the frame being received ends: after 3.5 characters of silence.
    double frameEndsAt() const { return in.empty() ? 1e300 : inWireEnd + kSilenceMs; }
    // Drops what would still be on the line after `t` (a reply run into by a request);
    // returns how many bytes were lost.
    size_t cutOutgoing(double t) {
        size_t lost = 0;
        while (!out.empty() && out.back().due > t) {
            out.pop_back();
            ++lost;
        }
        lineFreeAt = out.empty() ? std::min(lineFreeAt, t) : out.back().due;
        return lost;
    }
};

} // namespace devsim
