#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvel {

// The layout of the keep file, all numbers little-endian:
//   header, 48 bytes: "TARVKEEP", version (u32, 1), 4 reserved bytes, then two head slots of
//     16 bytes each: sent (u64, payload bytes already handed to an alarm server, counted from
//     the first record), generation (u32), crc32 of the 12 bytes before it. The valid slot
//     with the higher generation counts; the two are written in turn, so a torn slot write
//     leaves the other one standing.
//   records, one after the other: length (u32), crc32 of the length's 4 bytes and the payload
//     (u32), payload: one or more whole event lines, each ending in a line feed.
// A record that is cut short or fails its checksum ends the file: it and everything after it
// are dropped.
namespace keepfile {

constexpr char Magic[8] = {'T', 'A', 'R', 'V', 'K', 'E', 'E', 'P'};
constexpr uint32_t Version = 1;
constexpr uint64_t HeaderSize = 48;
constexpr uint64_t SlotSize = 16;
constexpr uint64_t RecordHeaderSize = 8;
// A record never holds more: a longer length field is damage.
constexpr uint32_t MaxRecordBytes = 64u << 20;

// The offset of the head slot a generation is written to.
constexpr uint64_t SlotOffset(uint32_t generation) {
  return 16 + SlotSize * (generation % 2);
}

// A head slot's 16 bytes.
std::string HeadSlot(uint64_t sent, uint32_t generation);

// A header whose both slots say sent 0, generation 0 and 1 (the second counts).
std::string Header();

// Appends records holding text (whole lines) to file, at most chunkBytes of payload each
// unless one line is longer.
void AppendRecords(std::string& file, std::string_view text, size_t chunkBytes = 1u << 20);

// What a keep file holds.
struct Contents {
  bool Recognised = false;    // the header is ours, in a version we read
  std::string Unsent;         // the lines not yet handed to an alarm server, in order
  uint64_t DroppedBytes = 0;  // a damaged tail, or the whole file when not recognised
};

Contents Parse(std::string_view file);

}  // namespace keepfile
}  // namespace tarvel
