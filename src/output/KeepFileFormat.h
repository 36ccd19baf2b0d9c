#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvel {

// The layout of the keep file, all numbers little-endian:
//   header, 48 bytes: "TARVKEEP", version (u32), 4 reserved bytes, then two head slots of
//     16 bytes each: sent (u64, payload bytes already taken by an alarm server's connection,
//     counted from the first record ever written to the file), generation (u32), crc32 of the
//     12 bytes before it. The valid slot with the higher generation counts; the two are written
//     in turn, so a torn slot write leaves the other one standing. Updating a slot needs no new
//     space on the disk.
//   records, one after the other; payload: one or more whole event lines, each ending in a
//   line feed.
//     version 2 (written today), 24 bytes before the payload: the marker "\0TKR", length
//       (u32), stream offset (u64: payload bytes of all records before this one), crc32 of
//       the 16 bytes before it, crc32 of the payload. The marker and the head's own checksum
//       let a reader find the next record after a damaged one; the stream offset tells which
//       part of it the sent count covers, whatever was lost before it.
//     version 1 (still read): length (u32), crc32 of the length's 4 bytes and the payload
//       (u32). A damaged record ends such a file.
namespace keepfile {

constexpr char Magic[8] = {'T', 'A', 'R', 'V', 'K', 'E', 'E', 'P'};
constexpr uint32_t Version = 2;
constexpr uint64_t HeaderSize = 48;
constexpr uint64_t SlotSize = 16;
constexpr char RecordMarker[4] = {'\0', 'T', 'K', 'R'};
// A record never holds more: a longer length field is damage.
constexpr uint32_t MaxRecordBytes = 64u << 20;

// The bytes in front of a record's payload, by version.
constexpr uint64_t RecordHeaderSize(uint32_t version) {
  return version == 1 ? 8 : 24;
}

// The offset of the head slot a generation is written to.
constexpr uint64_t SlotOffset(uint32_t generation) {
  return 16 + SlotSize * (generation % 2);
}

// A head slot's 16 bytes.
std::string HeadSlot(uint64_t sent, uint32_t generation);

// A header whose both slots say sent 0, generation 0 and 1 (the second counts).
std::string Header(uint32_t version = Version);

// Appends records holding text (whole lines) to file, at most chunkBytes of payload each
// unless one line is longer. streamOffset: the payload bytes of the records before them in the
// file; advanced by the payload appended.
void AppendRecords(std::string& file, std::string_view text, uint64_t& streamOffset,
                   uint32_t version = Version, size_t chunkBytes = 1u << 20);

// What a keep file holds.
struct Contents {
  // The file is a keep file: it starts with the magic, or (its header damaged) it holds
  // records of ours. Anything else is not written over.
  bool IsKeepFile = false;
  // The header is intact and its version one this gateway reads.
  bool Recognised = false;
  uint32_t Version = 0;       // of the header; 0 when not recognised
  std::string Unsent;         // the lines not yet taken by an alarm server, in order
  uint64_t Sent = 0;          // the head's sent count (0 when no slot is valid)
  uint32_t Generation = 0;    // the counting slot's generation
  uint64_t StreamEnd = 0;     // payload bytes of the file, lost ones included
  uint64_t End = 0;           // the offset after the last record read
  uint64_t LostRecords = 0;   // damaged records skipped or cut at the end
  uint64_t DroppedBytes = 0;  // bytes not read as part of a record or the header
  bool HeadDamaged = false;   // no valid head slot: everything is taken as unsent

  // The file can be written on in place: recognised, nothing dropped, the head valid.
  bool Intact() const { return Recognised && DroppedBytes == 0 && !HeadDamaged; }
};

Contents Parse(std::string_view file);

}  // namespace keepfile
}  // namespace tarvel
