#include "output/KeepFileFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace tarvel::keepfile {
namespace {

constexpr std::string_view Marker(RecordMarker, sizeof RecordMarker);

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutU64(std::string& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint64_t GetLittleEndian(std::string_view bytes, size_t at, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
  return value;
}

uint32_t Crc(std::string_view first, std::string_view second = {}) {
  uLong crc = crc32_z(0L, Z_NULL, 0);
  // zlib answers 0 for a null buffer, whatever the crc so far: an empty part is left out.
  if (!first.empty())
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(first.data()), first.size());
  if (!second.empty())
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(second.data()), second.size());
  return static_cast<uint32_t>(crc);
}

// Version 1 wrote 0 as every head slot's checksum (an empty second part ended the sum at 0):
// such a slot is read as valid.
bool SlotValid(std::string_view file, size_t at, uint64_t version) {
  const uint64_t stored = GetLittleEndian(file, at + 12, 4);
  return stored == Crc(file.substr(at, 12)) || (version == 1 && stored == 0);
}

// A version 2 record found at a marker.
struct Record {
  uint64_t StreamOffset = 0;
  std::string_view Payload;
  size_t End = 0;  // the offset after it
};

bool ReadRecord(std::string_view file, size_t at, Record& record) {
  constexpr size_t headerSize = RecordHeaderSize(2);
  if (file.size() - at < headerSize) return false;
  if (GetLittleEndian(file, at + 16, 4) != Crc(file.substr(at, 16))) return false;
  const uint64_t length = GetLittleEndian(file, at + 4, 4);
  if (length == 0 || length > MaxRecordBytes || length > file.size() - at - headerSize)
    return false;
  const std::string_view payload = file.substr(at + headerSize, length);
  if (GetLittleEndian(file, at + 20, 4) != Crc(payload) || payload.back() != '\n') return false;
  record.StreamOffset = GetLittleEndian(file, at + 8, 8);
  record.Payload = payload;
  record.End = at + headerSize + length;
  return true;
}

// The records a damaged stretch held: each marker in it most likely began one.
uint64_t RecordsIn(std::string_view stretch) {
  uint64_t count = 0;
  for (size_t at = stretch.find(Marker); at != std::string_view::npos;
       at = stretch.find(Marker, at + 1))
    ++count;
  return std::max<uint64_t>(count, 1);
}

// The lines of a payload that follows stream offset `offset` and are not yet sent.
void AppendUnsent(Contents& contents, uint64_t offset, std::string_view payload) {
  const uint64_t end = offset + payload.size();
  contents.StreamEnd = std::max(contents.StreamEnd, end);
  if (end <= contents.Sent) return;
  contents.Unsent.append(payload.substr(contents.Sent > offset ? contents.Sent - offset : 0));
}

void ParseVersion1(std::string_view file, Contents& contents) {
  constexpr size_t headerSize = RecordHeaderSize(1);
  size_t at = HeaderSize;
  while (file.size() - at >= headerSize) {
    const uint64_t length = GetLittleEndian(file, at, 4);
    if (length == 0 || length > MaxRecordBytes || length > file.size() - at - headerSize) break;
    const std::string_view payload = file.substr(at + headerSize, length);
    if (GetLittleEndian(file, at + 4, 4) != Crc(file.substr(at, 4), payload) ||
        payload.back() != '\n')
      break;
    AppendUnsent(contents, contents.StreamEnd, payload);
    at += headerSize + length;
  }
  contents.End = at;
  contents.DroppedBytes = file.size() - at;
  contents.LostRecords = contents.DroppedBytes > 0 ? 1 : 0;
}

// Reads the records from `from` on, skipping damaged stretches up to the next valid record.
void ParseVersion2(std::string_view file, size_t from, Contents& contents) {
  size_t goodEnd = from;  // the end of the header or of the last valid record
  for (size_t at = file.find(Marker, from); at != std::string_view::npos;
       at = file.find(Marker, at + 1)) {
    Record record;
    if (!ReadRecord(file, at, record)) continue;
    if (at > goodEnd) {
      contents.LostRecords += RecordsIn(file.substr(goodEnd, at - goodEnd));
      contents.DroppedBytes += at - goodEnd;
    }
    contents.IsKeepFile = true;
    AppendUnsent(contents, record.StreamOffset, record.Payload);
    goodEnd = record.End;
    at = record.End - 1;
  }
  if (goodEnd < file.size()) {
    contents.LostRecords += RecordsIn(file.substr(goodEnd));
    contents.DroppedBytes += file.size() - goodEnd;
  }
  contents.End = goodEnd;
}

}  // namespace

std::string HeadSlot(uint64_t sent, uint32_t generation) {
  std::string slot;
  PutU64(slot, sent);
  PutU32(slot, generation);
  PutU32(slot, Crc(slot));
  return slot;
}

std::string Header(uint32_t version) {
  std::string header(Magic, sizeof Magic);
  PutU32(header, version);
  PutU32(header, 0);
  header += HeadSlot(0, 0);
  header += HeadSlot(0, 1);
  return header;
}

void AppendRecords(std::string& file, std::string_view text, uint64_t& streamOffset,
                   uint32_t version, size_t chunkBytes) {
  while (!text.empty()) {
    size_t length = text.size();
    if (length > chunkBytes) {
      // Cut after the last line feed within the chunk, or after the first line.
      size_t end = text.rfind('\n', chunkBytes - 1);
      if (end == std::string_view::npos) end = text.find('\n');
      length = end == std::string_view::npos ? text.size() : end + 1;
    }
    const std::string_view payload = text.substr(0, length);
    if (version == 1) {
      std::string lengthBytes;
      PutU32(lengthBytes, static_cast<uint32_t>(length));
      file += lengthBytes;
      PutU32(file, Crc(lengthBytes, payload));
    } else {
      std::string head(Marker);
      PutU32(head, static_cast<uint32_t>(length));
      PutU64(head, streamOffset);
      PutU32(head, Crc(head));
      PutU32(head, Crc(payload));
      file += head;
    }
    file.append(payload);
    streamOffset += length;
    text.remove_prefix(length);
  }
}

Contents Parse(std::string_view file) {
  Contents contents;
  const bool magic =
      file.size() >= sizeof Magic && std::memcmp(file.data(), Magic, sizeof Magic) == 0;
  const uint64_t version = file.size() >= HeaderSize ? GetLittleEndian(file, 8, 4) : 0;
  contents.IsKeepFile = magic;
  contents.Recognised = magic && (version == 1 || version == 2);
  contents.HeadDamaged = true;
  if (contents.Recognised) {
    contents.Version = static_cast<uint32_t>(version);
    for (uint32_t slot = 0; slot < 2; ++slot) {
      const size_t at = static_cast<size_t>(SlotOffset(slot));
      if (!SlotValid(file, at, version)) continue;
      const auto generation = static_cast<uint32_t>(GetLittleEndian(file, at + 8, 4));
      if (contents.HeadDamaged || generation > contents.Generation) {
        contents.HeadDamaged = false;
        contents.Generation = generation;
        contents.Sent = GetLittleEndian(file, at, 8);
      }
    }
  }
  if (contents.Recognised && version == 1) {
    ParseVersion1(file, contents);
  } else {
    // A damaged header is no reason to lose the records behind it: they are looked for from
    // the start (their markers cannot be mistaken for the header's bytes).
    ParseVersion2(file, contents.Recognised ? HeaderSize : 0, contents);
  }
  return contents;
}

}  // namespace tarvel::keepfile
