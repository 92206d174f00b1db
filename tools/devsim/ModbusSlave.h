#pragma once
// The Modbus side of the bench: each slave a libmodbus RTU server on its own socket pair,
// which checks the request's checksum and builds the reply.
#include <modbus.h>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace devsim {

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
inline int requestLength(const std::vector<unsigned char>& b) {
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
inline bool lightOutputsValid(const std::vector<unsigned char>& frame) {
    const int start = frame[2] << 8 | frame[3];
    if (frame[1] == 5)
        return start <= 7;
    if (frame[1] == 15)
        return start <= 7 && (frame[4] << 8 | frame[5]) <= 16;
    return true;
}

} // namespace devsim
