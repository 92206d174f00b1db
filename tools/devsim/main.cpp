// devsim: plays the weighing bench's hardware on pseudo-terminals.
//
//   small   the small balance (3000 g, 0.01 g), 16-character text frames
//   large   the large balance (28 kg, 0.1 g), 13-character text frames
//   bus     both balances as Modbus RTU slaves 3 (small) and 4 (large)
//   lights  the light modules, Modbus RTU slaves 1..16, coils 0..7
//   scanner a barcode scanner fixed at the bench: `scan TEXT` sends TEXT and CR LF
//   control a named pipe that takes the same commands as standard input
//
// Every line is timed like a 9600-baud line: a byte takes 10 bit times (1.04 ms). The
// Modbus lines are two-wire lines as a real slave sees them: a frame ends after 3.5
// characters of silence, the addressed slave answers after its turnaround, and a request
// sent while a reply is due or on the line garbles both. devsim checks each frame (length,
// checksum, address, function, coils and registers) and answers a refused request with its
// exception; libmodbus, one RTU server per slave on its own socket pair, builds the replies
// to valid requests. Nothing here is shared with the station.
//
// Events go to a log file, one line each: "<ms> <event> <arguments>".

#include "Events.h"
#include "SimulatedBench.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace devsim;

namespace {

void usage() {
    fprintf(
        stderr,
        "usage: devsim --dir DIR [--rate N|max] [--log FILE] [--auto WORKDIR] [--small G] [--large "
        "G]\n"
        "              [--turnaround MS|DEVICE=MS]... [--frame-log] [--ramp] [--auto-scan]\n"
        "              [--marks off|first|header|modbus]\n"
        "Creates DIR/small, DIR/large, DIR/bus, DIR/lights, DIR/scanner (pseudo-terminals) and "
        "DIR/control.\n"
        "Commands (standard input or DIR/control): set|put|pour BAL GRAMS, zero|take|silent|resume "
        "BAL,\n"
        "unplug|plug small|large|bus|lights|scanner, scan TEXT, status, quit,\n"
        "turnaround [DEVICE] MS, exception DEVICE CODE|off, exception off.  BAL is small or "
        "large;\n"
        "DEVICE is small, large, lights (every module) or lights N (module N; lights:N in "
        "--turnaround).\n");
}

// Sets the bench up from the command line; false on an unknown option.
bool parseArguments(int argc, char** argv, SimulatedBench& bench, std::string& logPath) {
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
            bench.autoOperator.dir = value();
        else if (a == "--small")
            g_small.gross = g_small.counts(atof(value().c_str()));
        else if (a == "--large")
            g_large.gross = g_large.counts(atof(value().c_str()));
        else if (a == "--turnaround") {
            // MS for every slave, or DEVICE=MS (small, large, lights, lights:N) for one.
            std::string v = value();
            std::string device;
            if (const size_t eq = v.find('='); eq != std::string::npos) {
                device = v.substr(0, eq);
                v = v.substr(eq + 1);
                if (device.rfind("lights:", 0) == 0)
                    device[6] = ' ';
            }
            if (!bench.setTurnaround(device, v))
                return false;
        } else if (a == "--frame-log")
            bench.frameLog = true;
        else if (a == "--ramp")
            bench.ramp = true;
        else if (a == "--marks") {
            const std::string v = value();
            if (v == "first")
                g_marks = Marks::First;
            else if (v == "header")
                g_marks = Marks::Header;
            else if (v == "modbus")
                g_marks = Marks::Modbus;
            else if (v != "off")
                return false;
        } else if (a == "--auto-scan")
            bench.autoOperator.scan = [&bench](const std::string& c) { bench.command(c); };
        else
            return false;
    }
    return !bench.dir.empty();
}

// Runs the bench until "quit" or a signal: the lines, the automatic operator, and the
// commands from standard input and the control pipe.
void serve(SimulatedBench& bench, int control) {
    bool stdinOpen = true;
    std::string stdinText, controlText;

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
        bench.autoOperator.pollQueue(now);
        bench.autoOperator.runActions(now);

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

        double wake = std::min(bench.autoOperator.nextAction(), now + 50);
        for (Line* l : bench.all())
            wake = std::min({wake, l->nextDue(), l->frameEndsAt()});
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
        bench.endFrames(nowMs());
        if (fds[controlAt].revents & POLLIN) {
            bool open = true;
            takeLines(control, controlText, open);
        }
        if (stdinOpen && fds.size() > controlAt + 1 &&
            (fds[controlAt + 1].revents & (POLLIN | POLLHUP)))
            takeLines(0, stdinText, stdinOpen);
    }
}

} // namespace

int main(int argc, char** argv) {
    SimulatedBench bench;
    std::string logPath;
    if (!parseArguments(argc, argv, bench, logPath)) {
        usage();
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTERM, [](int) { g_quit = 1; });
    signal(SIGINT, [](int) { g_quit = 1; });
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
    logEvent("ready %s", bench.dir.c_str());
    serve(bench, control);
    logEvent("stopped");
    for (Line* l : bench.all())
        l->unplug();
    unlink(fifo.c_str());
    close(keepWriter);
    close(control);
    return 0;
}
