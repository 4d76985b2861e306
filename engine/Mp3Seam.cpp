// The frame layout read here: a 4-byte header, a 2-byte checksum when the protection bit is
// clear, the side information, then the main data. The side information's first 9 bits (8 for
// the lower rates) tell how many main-data bytes before the header the frame's data begins; its
// part2_3_length fields give the length of the frame's data in bits.
#include "engine/Mp3Seam.h"

#include "ffbind/FFmpegApi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int HeaderBytes = 4;
constexpr int ChecksumBytes = 2;
constexpr int TopBitRateIndex = 14;
constexpr int Mpeg1Kbps[TopBitRateIndex + 1] = {0,   32,  40,  48,  56,  64,  80, 96,
                                                112, 128, 160, 192, 224, 256, 320};
constexpr int Mpeg2Kbps[TopBitRateIndex + 1] = {0,  8,  16, 24,  32,  40,  48, 56,
                                                64, 80, 96, 112, 128, 144, 160};
constexpr int Mpeg1RatesHz[3] = {44100, 48000, 32000};

// The most main-data bytes a frame may borrow (what its side information can express).
int MaxBorrowedBytes(bool mpeg1) {
    return mpeg1 ? 511 : 255;
}

int FrameBytes(bool mpeg1, int bitRateIndex, int sampleRateHz, int padding) {
    const int kbps = (mpeg1 ? Mpeg1Kbps : Mpeg2Kbps)[bitRateIndex];
    return (mpeg1 ? 144000 : 72000) * kbps / sampleRateHz + padding;
}

struct TMp3Frame {
    bool Mpeg1 = true;
    bool Checksum = false;
    int SampleRateHz = 0;
    int BitRateIndex = 0;
    int SideInfoBytes = 0;
    int MainDataOffset = 0; // where the frame's main-data bytes start in the packet
    int BorrowedBytes = 0;  // main data begins this many main-data bytes before the header
    int DataBytes = 0;      // the frame's own main data, in whole bytes
};

unsigned ReadBits(const uint8_t* data, int& bit, int count) {
    unsigned value = 0;
    for (; count > 0; --count, ++bit)
        value = (value << 1) | ((data[bit >> 3] >> (7 - (bit & 7))) & 1);
    return value;
}

bool ParseFrame(const AVPacket& packet, TMp3Frame& frame) {
    const uint8_t* data = packet.data;
    if (!data || packet.size < HeaderBytes || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0 ||
        ((data[1] >> 1) & 3) != 1) // layer III
        return false;
    const int version = (data[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int rateIndex = (data[2] >> 2) & 3;
    frame.BitRateIndex = data[2] >> 4;
    if (version == 1 || rateIndex == 3 || frame.BitRateIndex == 0 ||
        frame.BitRateIndex > TopBitRateIndex)
        return false;
    frame.Mpeg1 = version == 3;
    frame.SampleRateHz = Mpeg1RatesHz[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    frame.Checksum = (data[1] & 1) == 0;
    const bool mono = (data[3] >> 6) == 3;
    const int channels = mono ? 1 : 2;
    frame.SideInfoBytes = frame.Mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const int sideInfo = HeaderBytes + (frame.Checksum ? ChecksumBytes : 0);
    frame.MainDataOffset = sideInfo + frame.SideInfoBytes;
    if (packet.size !=
            FrameBytes(frame.Mpeg1, frame.BitRateIndex, frame.SampleRateHz, (data[2] >> 1) & 1) ||
        frame.MainDataOffset > packet.size)
        return false;
    const uint8_t* side = data + sideInfo;
    int bit = 0;
    frame.BorrowedBytes = static_cast<int>(ReadBits(side, bit, frame.Mpeg1 ? 9 : 8));
    // Private bits and, in MPEG-1, the scale factor selection; then per granule and channel
    // part2_3_length and the rest of the granule's fields (47 bits in MPEG-1, 51 otherwise).
    bit += frame.Mpeg1 ? (mono ? 5 : 3) + 4 * channels : (mono ? 1 : 2);
    int dataBits = 0;
    for (int granule = 0; granule < (frame.Mpeg1 ? 2 : 1); ++granule)
        for (int channel = 0; channel < channels; ++channel) {
            dataBits += static_cast<int>(ReadBits(side, bit, 12));
            bit += frame.Mpeg1 ? 47 : 51;
        }
    frame.DataBytes = (dataBits + 7) / 8;
    return true;
}

int MainBytes(const AVPacket& packet, const TMp3Frame& frame) {
    return packet.size - frame.MainDataOffset;
}

uint16_t Crc16(uint16_t crc, const uint8_t* data, int count) {
    for (int i = 0; i < count; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

// Writes a frame's borrowed byte count and its checksum over header and side information.
void WriteSideInfo(AVPacket& packet, const TMp3Frame& frame) {
    uint8_t* data = packet.data;
    uint8_t* side = data + HeaderBytes + (frame.Checksum ? ChecksumBytes : 0);
    if (frame.Mpeg1) {
        side[0] = static_cast<uint8_t>(frame.BorrowedBytes >> 1);
        side[1] = static_cast<uint8_t>((side[1] & 0x7F) | ((frame.BorrowedBytes & 1) << 7));
    } else {
        side[0] = static_cast<uint8_t>(frame.BorrowedBytes);
    }
    if (!frame.Checksum)
        return;
    const uint16_t crc = Crc16(Crc16(0xFFFF, data + 2, 2), side, frame.SideInfoBytes);
    data[HeaderBytes] = static_cast<uint8_t>(crc >> 8);
    data[HeaderBytes + 1] = static_cast<uint8_t>(crc & 0xFF);
}

// Gives a frame the smallest larger size (a higher bit-rate index, padding) that adds at least
// wantedBytes, or the largest there is; the added bytes, zero, end its main data. Returns them.
int RaiseFrame(AVPacket& packet, TMp3Frame& frame, int wantedBytes) {
    const int size = packet.size;
    int index = frame.BitRateIndex, padding = 0;
    for (int i = frame.BitRateIndex + 1; i <= TopBitRateIndex; ++i) {
        index = i;
        padding = FrameBytes(frame.Mpeg1, i, frame.SampleRateHz, 0) - size >= wantedBytes ? 0 : 1;
        if (FrameBytes(frame.Mpeg1, i, frame.SampleRateHz, padding) - size >= wantedBytes)
            break;
    }
    const int added = FrameBytes(frame.Mpeg1, index, frame.SampleRateHz, padding) - size;
    if (added <= 0 || ff::av_grow_packet(&packet, added) < 0)
        return 0;
    std::memset(packet.data + size, 0, static_cast<std::size_t>(added));
    packet.data[2] = static_cast<uint8_t>((packet.data[2] & 0x0D) | (index << 4) | (padding << 1));
    frame.BitRateIndex = index;
    WriteSideInfo(packet, frame);
    return added;
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
        const int taken = std::min(count, MainBytes(*packets[i], frame));
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

// Writes bytes into the main data of the packets before end, ending at end's header.
bool WriteMainDataBefore(std::vector<PacketPtr>& packets, std::size_t end,
                         const std::vector<uint8_t>& bytes) {
    const auto ranges = MainDataBefore(packets, end, static_cast<int>(bytes.size()));
    if (!bytes.empty() && ranges.empty())
        return false;
    std::size_t next = 0;
    for (const TByteRange& range : ranges) {
        if (ff::av_packet_make_writable(packets[range.Packet].get()) < 0)
            return false;
        std::memcpy(packets[range.Packet]->data + range.Offset, bytes.data() + next,
                    static_cast<std::size_t>(range.Length));
        next += static_cast<std::size_t>(range.Length);
    }
    return true;
}

// The later piece's frames from the seam on as they are to be written: where each one's data
// goes, counted in main-data bytes from the seam frame's header.
struct TPlacedFrame {
    TMp3Frame Frame;
    int OldStart = 0;  // its header in the later piece's own stream
    int OldSlot = 0;   // its main-data bytes there
    int NewStart = 0;  // its header in the joined stream
    int NewSlot = 0;   // its main-data bytes there
    int DataStart = 0; // where its data begins in the joined stream
};

// Places the later piece's frame data from the room before the seam (freeBytes) on, enlarging
// frames whose data no longer fits, up to the first frame whose data lies where its encoder put
// it (the last of placed; the only one when the room holds the borrowed bytes). False when the
// frames cannot be made to hold the data.
bool PlaceFrames(std::vector<PacketPtr>& after, std::size_t seam, int freeBytes,
                 std::vector<TPlacedFrame>& placed, int& raised) {
    int oldStart = 0, newStart = 0, dataEnd = -freeBytes;
    for (std::size_t i = seam; i < after.size(); ++i) {
        TPlacedFrame frame;
        if (ff::av_packet_make_writable(after[i].get()) < 0 || !ParseFrame(*after[i], frame.Frame))
            return false;
        frame.OldStart = oldStart;
        frame.NewStart = newStart;
        frame.OldSlot = frame.NewSlot = MainBytes(*after[i], frame.Frame);
        frame.DataStart = std::max(dataEnd, newStart - frame.Frame.BorrowedBytes);
        placed.push_back(frame);
        if (frame.DataStart == newStart - frame.Frame.BorrowedBytes)
            return true; // from here on every byte lies as its encoder wrote it
        const int end = frame.DataStart + frame.Frame.DataBytes;
        TMp3Frame next;
        if (i + 1 >= after.size() || !ParseFrame(*after[i + 1], next))
            return false;
        // The next frame may begin where its encoder put it once this one ends before that.
        const int wanted = end - (newStart + frame.OldSlot - next.BorrowedBytes);
        if (wanted > 0) {
            const int added = RaiseFrame(*after[i], placed.back().Frame, wanted);
            placed.back().NewSlot += added;
            raised += added > 0;
        }
        if (end > newStart + placed.back().NewSlot)
            return false;
        dataEnd = end;
        oldStart += frame.OldSlot;
        newStart += placed.back().NewSlot;
    }
    return false;
}

// The later piece's main-data bytes as its encoder wrote them, from the bytes the seam frame
// borrows up to the first frame placed as it was.
bool ReadMainData(const std::vector<PacketPtr>& after, std::size_t seam,
                  const std::vector<TPlacedFrame>& placed, int borrowedBytes,
                  std::vector<uint8_t>& bytes) {
    const auto before = MainDataBefore(after, seam, borrowedBytes);
    if (borrowedBytes > 0 && before.empty())
        return false;
    for (const TByteRange& range : before) {
        const uint8_t* data = after[range.Packet]->data + range.Offset;
        bytes.insert(bytes.end(), data, data + range.Length);
    }
    // Raising a frame only added bytes after its own.
    for (std::size_t i = 0; i + 1 < placed.size(); ++i) {
        const uint8_t* data = after[seam + i]->data + placed[i].Frame.MainDataOffset;
        bytes.insert(bytes.end(), data, data + placed[i].OldSlot);
    }
    return true;
}

} // namespace

bool Mp3SeamsAlwaysJoin(const AVCodecContext& encoder, const AVDictionary* options) {
    const AVDictionaryEntry* abr = ff::av_dict_get(options, "abr", nullptr, 0);
    const bool variable = (encoder.flags & AV_CODEC_FLAG_QSCALE) || encoder.bit_rate <= 0 ||
                          (abr && std::atoi(abr->value) != 0);
    if (variable)
        return false;
    const bool mpeg1 = encoder.sample_rate >= 32000;
    const int* kbps = mpeg1 ? Mpeg1Kbps : Mpeg2Kbps;
    // The encoder takes the table's rate nearest the one asked for: count with the next above.
    int index = 1;
    while (index < TopBitRateIndex && kbps[index] * 1000 < encoder.bit_rate)
        ++index;
    const int roomBytes = FrameBytes(mpeg1, TopBitRateIndex, encoder.sample_rate, 0) -
                          FrameBytes(mpeg1, index, encoder.sample_rate, 1);
    return 2 * roomBytes >= MaxBorrowedBytes(mpeg1);
}

TMp3Join JoinMp3Pieces(std::vector<PacketPtr>& before, std::vector<PacketPtr>& after,
                       int64_t seamTicks) {
    TMp3Join join;
    const std::size_t seam = IndexOfTicks(after, seamTicks);
    const std::size_t end = IndexOfTicks(before, seamTicks);
    TMp3Frame last, first;
    if (seam >= after.size() || end == 0 || end > before.size() ||
        !ParseFrame(*before[end - 1], last) || !ParseFrame(*after[seam], first))
        return join;
    join.BorrowedBytes = first.BorrowedBytes;
    // What the earlier piece's last kept frame's data leaves of the bytes up to the seam.
    int available = 0;
    for (std::size_t i = end; i-- > 0;) {
        TMp3Frame frame;
        if (!ParseFrame(*before[i], frame))
            break;
        available += MainBytes(*before[i], frame);
    }
    join.FreeBytes = std::clamp(
        MainBytes(*before[end - 1], last) + last.BorrowedBytes - last.DataBytes, 0, available);
    int freeBytes = join.FreeBytes;
    if (first.BorrowedBytes > freeBytes) {
        if (ff::av_packet_make_writable(before[end - 1].get()) < 0)
            return join;
        const int added = RaiseFrame(*before[end - 1], last, first.BorrowedBytes - freeBytes);
        freeBytes += added;
        join.RaisedFrames += added > 0;
    }
    std::vector<TPlacedFrame> placed;
    if (!PlaceFrames(after, seam, std::min(freeBytes, first.BorrowedBytes), placed,
                     join.RaisedFrames))
        return join;
    // The joined main data from the room before the seam to the first frame left as it was.
    const TPlacedFrame& kept = placed.back();
    const int room = std::min(freeBytes, first.BorrowedBytes);
    std::vector<uint8_t> old;
    if (!ReadMainData(after, seam, placed, first.BorrowedBytes, old))
        return join;
    std::vector<uint8_t> joined(static_cast<std::size_t>(room + kept.NewStart), 0);
    const auto oldAt = [&](int position) { return old.begin() + first.BorrowedBytes + position; };
    // Every frame's data within what was read (a frame reaching further is not the encoder's).
    const auto within = [&](int from, int count) {
        return from >= -first.BorrowedBytes && count >= 0 &&
               from + count <= static_cast<int>(old.size()) - first.BorrowedBytes;
    };
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const TPlacedFrame& frame = placed[i];
        const int oldData = frame.OldStart - frame.Frame.BorrowedBytes;
        if (!within(oldData, i + 1 < placed.size() ? frame.Frame.DataBytes : 0))
            return join;
    }
    for (std::size_t i = 0; i + 1 < placed.size(); ++i) {
        const TPlacedFrame& frame = placed[i];
        const int oldData = frame.OldStart - frame.Frame.BorrowedBytes;
        std::copy(oldAt(oldData), oldAt(oldData + frame.Frame.DataBytes),
                  joined.begin() + room + frame.DataStart);
    }
    std::copy(oldAt(kept.OldStart - kept.Frame.BorrowedBytes), oldAt(kept.OldStart),
              joined.end() - kept.Frame.BorrowedBytes);
    if (!WriteMainDataBefore(before, end,
                             std::vector<uint8_t>(joined.begin(), joined.begin() + room)))
        return join;
    for (std::size_t i = 0; i + 1 < placed.size(); ++i) {
        TPlacedFrame& frame = placed[i];
        AVPacket& packet = *after[seam + i];
        frame.Frame.BorrowedBytes = frame.NewStart - frame.DataStart;
        WriteSideInfo(packet, frame.Frame);
        std::copy(joined.begin() + room + frame.NewStart,
                  joined.begin() + room + frame.NewStart + frame.NewSlot,
                  packet.data + frame.Frame.MainDataOffset);
    }
    join.Joined = true;
    return join;
}
