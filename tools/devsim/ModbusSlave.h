#pragma once
// The Modbus side of the bench: each slave a libmodbus RTU server on its own socket pair,
// which builds the reply to a valid request. devsim checks every request itself first and
// answers a refused one with its exception at once: libmodbus sleeps its response time-out
// (0.5 s) before an exception reply it builds, and devsim plays every device on one thread.
#include <modbus.h>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace devsim {

// The Modbus RTU checksum (preset 0xFFFF, reflected polynomial 0xA001).
inline uint16_t crc16(const unsigned char* p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

inline void appendCrc(std::vector<unsigned char>& f) {
    const uint16_t c = crc16(f.data(), f.size());
    f.push_back(uint8_t(c & 0xFF));
    f.push_back(uint8_t(c >> 8));
}

inline bool crcValid(const std::vector<unsigned char>& f) {
    return f.size() >= 4 && crc16(f.data(), f.size() - 2) == (f[f.size() - 2] | f.back() << 8);
}

inline std::vector<unsigned char> exceptionReply(int address, int function, int code) {
    std::vector<unsigned char> r{uint8_t(address), uint8_t(function | 0x80), uint8_t(code)};
    appendCrc(r);
    return r;
}

constexpr int kIllegalFunction = 1;
constexpr int kIllegalAddress = 2;
constexpr int kIllegalValue = 3;

// The length a request of this function has, or 0 for a function the slaves do not know.
inline size_t requestLength(const std::vector<unsigned char>& b) {
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
        return b.size() < 7 ? 0 : 9 + size_t(b[6]);
    default:
        return 0;
    }
}

struct Slave {
    int address = 0;
    modbus_t* ctx = nullptr;
    modbus_mapping_t* map = nullptr;
    int peer = -1; // devsim's end of the socket pair
    int nbBits = 256, nbRegisters = 8;

    Slave() = default;
    Slave(const Slave&) = delete;
    Slave& operator=(const Slave&) = delete;
    ~Slave() {
        if (map)
            modbus_mapping_free(map);
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
        if (peer >= 0)
            close(peer);
    }

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
        // Should an exception still reach libmodbus, its sleep is kept short.
        modbus_set_response_timeout(ctx, 0, 1000);
        peer = sv[1];
        fcntl(peer, F_SETFL, fcntl(peer, F_GETFL) | O_NONBLOCK);
        map = modbus_mapping_new(nbBits, 0, nbRegisters, 0);
        return map != nullptr;
    }

    // The exception a whole, checked request (right length and checksum) earns from this
    // slave's coils and registers, or 0 when libmodbus may answer it.
    int exceptionFor(const std::vector<unsigned char>& f) const {
        const int start = f[2] << 8 | f[3];
        const int count = f[4] << 8 | f[5];
        auto span = [&](int limit, int table) {
            if (count < 1 || count > limit)
                return kIllegalValue;
            return start + count > table ? kIllegalAddress : 0;
        };
        switch (f[1]) {
        case 1:
            return span(2000, nbBits);
        case 3:
            return span(125, nbRegisters);
        case 5:
            if (count != 0xFF00 && count != 0)
                return kIllegalValue;
            return start < nbBits ? 0 : kIllegalAddress;
        case 6:
            return start < nbRegisters ? 0 : kIllegalAddress;
        case 15:
            if (f[6] != (count + 7) / 8)
                return kIllegalValue;
            return span(1968, nbBits);
        case 16:
            if (f[6] != 2 * count)
                return kIllegalValue;
            return span(123, nbRegisters);
        case 2: // no discrete inputs
        case 4: // no input registers
            return kIllegalAddress;
        default:
            return kIllegalFunction;
        }
    }

    // Hands a whole, checked request frame to libmodbus. Returns the reply, or nothing when
    // the frame was refused (its reason in `why`).
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

// A light module drives outputs 0..7: a single-coil write must name one of them, and a
// multiple-coil write must start at one of them and span at most 16 coils (the module-off
// frame covers 16). Frames of other functions are left to the general check.
inline bool lightOutputsValid(const std::vector<unsigned char>& frame) {
    const int start = frame[2] << 8 | frame[3];
    if (frame[1] == 5)
        return start <= 7;
    if (frame[1] == 15)
        return start <= 7 && (frame[4] << 8 | frame[5]) <= 16;
    return true;
}

} // namespace devsim
