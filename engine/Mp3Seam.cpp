// The frame layout read here: a 4-byte header, a 2-byte checksum when the protection bit is
// clear, the side information (whose first 9 bits, 8 for the lower rates, tell how many bytes
// before the header the frame's data begins), then the main data.
#include "engine/Mp3Seam.h"

#include <algorithm>
#include <cstring>

namespace {

struct TMp3Frame {
    int BorrowedBytes = 0;  // main data begins this many main-data bytes before the header
    int MainDataOffset = 0; // where this frame's own main-data bytes start in the packet
};

bool ParseFrame(const AVPacket& packet, TMp3Frame& frame) {
    const uint8_t* data = packet.data;
    if (!data || packet.size < 6 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0 ||
        ((data[1] >> 1) & 3) != 1) // layer III
        return false;
    const bool mpeg1 = ((data[1] >> 3) & 3) == 3;
    const bool mono = (data[3] >> 6) == 3;
    const int sideInfoBytes = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const int sideInfo = 4 + ((data[1] & 1) ? 0 : 2);
    frame.MainDataOffset = sideInfo + sideInfoBytes;
    if (frame.MainDataOffset > packet.size)
        return false;
    frame.BorrowedBytes =
        mpeg1 ? (data[sideInfo] << 1) | (data[sideInfo + 1] >> 7) : data[sideInfo];
    return true;
}

// One run of main-data bytes inside a packet.
struct TByteRange {
    std::size_t Packet;
    int Offset;
    int Length;
};

// The last count main-data bytes of the packets before end, in stream order; empty when the
// packets hold fewer.
std::vector<TByteRange> MainDataBefore(const std::vector<PacketPtr>& packets, std::size_t end,
                                       int count) {
    std::vector<TByteRange> ranges;
    for (std::size_t i = end; i-- > 0 && count > 0;) {
        TMp3Frame frame;
        if (!ParseFrame(*packets[i], frame))
            return {};
        const int taken = std::min(count, packets[i]->size - frame.MainDataOffset);
        ranges.insert(ranges.begin(), {i, packets[i]->size - taken, taken});
        count -= taken;
    }
    return count > 0 ? std::vector<TByteRange>{} : ranges;
}

std::size_t IndexOfTicks(const std::vector<PacketPtr>& packets, int64_t ticks) {
    return static_cast<std::size_t>(
        std::find_if(packets.begin(), packets.end(),
                     [&](const PacketPtr& packet) { return packet->pts == ticks; }) -
        packets.begin());
}

// Copies the later piece's borrowed bytes of a frame into the earlier piece's unused bytes.
bool MoveBorrowedBytes(std::vector<PacketPtr>& before, std::size_t beforeEnd,
                       const std::vector<PacketPtr>& after, std::size_t afterEnd, int count) {
    const auto from = MainDataBefore(after, afterEnd, count);
    const auto to = MainDataBefore(before, beforeEnd, count);
    if (from.empty() || to.empty())
        return false;
    std::vector<uint8_t> bytes;
    for (const TByteRange& range : from) {
        const uint8_t* data = after[range.Packet]->data + range.Offset;
        bytes.insert(bytes.end(), data, data + range.Length);
    }
    std::size_t next = 0;
    for (const TByteRange& range : to) {
        if (ff::av_packet_make_writable(before[range.Packet].get()) < 0)
            return false;
        std::memcpy(before[range.Packet]->data + range.Offset, bytes.data() + next,
                    static_cast<std::size_t>(range.Length));
        next += static_cast<std::size_t>(range.Length);
    }
    return true;
}

} // namespace

int64_t JoinMp3Pieces(std::vector<PacketPtr>& before, const std::vector<PacketPtr>& after,
                      int64_t fromTicks) {
    for (std::size_t b = IndexOfTicks(after, fromTicks); b < after.size(); ++b) {
        const std::size_t a = IndexOfTicks(before, after[b]->pts);
        TMp3Frame earlier, later;
        if (a >= before.size() || !ParseFrame(*before[a], earlier) || !ParseFrame(*after[b], later))
            return INT64_MIN;
        // The earlier piece's frame here is dropped: the bytes its data took before its header
        // are free for the later piece's frame.
        if (later.BorrowedBytes > earlier.BorrowedBytes)
            continue;
        if (later.BorrowedBytes == 0 || MoveBorrowedBytes(before, a, after, b, later.BorrowedBytes))
            return after[b]->pts;
    }
    return INT64_MIN;
}
