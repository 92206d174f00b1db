// What a balance sends: continuous text frames in pieces of any size, and Modbus replies.
// The input's first byte picks the balance, the piece size and whether the Modbus reply
// gets a valid checksum (so that the fuzzer reaches past the checksum check).
#include "FuzzSupport.h"
#include "common/Numbers.h"
#include "devices/BalanceFrames.h"
#include "devices/ModbusFrames.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const int gPosition =
        (data[0] & 1) ? BalanceFrames::kSmallGPosition : BalanceFrames::kLargeGPosition;
    const int piece = 1 + (data[0] >> 1) % 16;
    const QByteArray in = fuzz::bytes(data + 1, size - 1);

    // The frames found do not depend on how the bytes are cut into feeds.
    TextFrameParser whole(gPosition), pieces(gPosition);
    const std::optional<QString> once = whole.feed(in);
    std::optional<QString> newest;
    for (qsizetype off = 0; off < in.size(); off += piece) {
        if (std::optional<QString> c = pieces.feed(in.mid(off, piece)))
            newest = c;
        FUZZ_CHECK(pieces.pending() < gPosition);
    }
    FUZZ_CHECK(once == newest);
    if (once)
        FUZZ_CHECK(std::isfinite(leadingNumber(*once)));
    (void)BalanceFrames::textCaption(in, gPosition);

    QByteArray reply = in;
    if ((data[0] & 0x80) && reply.size() >= 9)
        reply = ModbusFrames::withCrc(reply.left(9)) + reply.mid(9);
    for (int slave : {BalanceFrames::kSmallSlave, BalanceFrames::kLargeSlave}) {
        const BalanceFrames::Reply r = BalanceFrames::parseReply(reply, slave);
        if (r.status == BalanceFrames::ReplyStatus::Reading) {
            FUZZ_CHECK(quint8(reply.at(0)) == slave);
            FUZZ_CHECK(Decimal::parse(r.caption).toString() == r.caption);
        } else {
            FUZZ_CHECK(r.caption.isEmpty());
        }
    }
    return 0;
}
