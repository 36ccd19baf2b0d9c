#include "output/KeepFileFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace tarvel::keepfile {
namespace {

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
  crc = crc32_z(crc, reinterpret_cast<const Bytef*>(first.data()), first.size());
  crc = crc32_z(crc, reinterpret_cast<const Bytef*>(second.data()), second.size());
  return static_cast<uint32_t>(crc);
}

}  // namespace

std::string HeadSlot(uint64_t sent, uint32_t generation) {
  std::string slot;
  PutU64(slot, sent);
  PutU32(slot, generation);
  PutU32(slot, Crc(slot));
  return slot;
}

std::string Header() {
  std::string header(Magic, sizeof Magic);
  PutU32(header, Version);
  PutU32(header, 0);
  header += HeadSlot(0, 0);
  header += HeadSlot(0, 1);
  return header;
}

void AppendRecords(std::string& file, std::string_view text, size_t chunkBytes) {
  while (!text.empty()) {
    size_t length = text.size();
    if (length > chunkBytes) {
      // Cut after the last line feed within the chunk, or after the first line.
      size_t end = text.rfind('\n', chunkBytes - 1);
      if (end == std::string_view::npos) end = text.find('\n');
      length = end == std::string_view::npos ? text.size() : end + 1;
    }
    std::string lengthBytes;
    PutU32(lengthBytes, static_cast<uint32_t>(length));
    file += lengthBytes;
    PutU32(file, Crc(lengthBytes, text.substr(0, length)));
    file.append(text.substr(0, length));
    text.remove_prefix(length);
  }
}

Contents Parse(std::string_view file) {
  Contents contents;
  if (file.size() < HeaderSize || std::memcmp(file.data(), Magic, sizeof Magic) != 0 ||
      GetLittleEndian(file, 8, 4) != Version) {
    contents.DroppedBytes = file.size();
    return contents;
  }
  contents.Recognised = true;

  uint64_t sent = 0;
  bool haveSlot = false;
  uint32_t bestGeneration = 0;
  for (uint32_t slot = 0; slot < 2; ++slot) {
    const size_t at = static_cast<size_t>(SlotOffset(slot));
    if (GetLittleEndian(file, at + 12, 4) != Crc(file.substr(at, 12))) continue;
    const auto generation = static_cast<uint32_t>(GetLittleEndian(file, at + 8, 4));
    if (!haveSlot || generation > bestGeneration) {
      haveSlot = true;
      bestGeneration = generation;
      sent = GetLittleEndian(file, at, 8);
    }
  }

  size_t at = HeaderSize;
  uint64_t skip = sent;  // payload bytes already handed out
  while (file.size() - at >= RecordHeaderSize) {
    const uint64_t length = GetLittleEndian(file, at, 4);
    if (length == 0 || length > MaxRecordBytes || length > file.size() - at - RecordHeaderSize)
      break;
    const std::string_view payload = file.substr(at + RecordHeaderSize, length);
    if (GetLittleEndian(file, at + 4, 4) != Crc(file.substr(at, 4), payload) ||
        payload.back() != '\n')
      break;
    const uint64_t skipped = std::min<uint64_t>(skip, length);
    skip -= skipped;
    contents.Unsent.append(payload.substr(skipped));
    at += RecordHeaderSize + length;
  }
  contents.DroppedBytes = file.size() - at;
  return contents;
}

}  // namespace tarvel::keepfile
