#include "text/CharsetConversion.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <utility>

namespace tarvel {

namespace {

using ByteTable = std::array<uint8_t, 256>;
using Replacement = std::pair<uint8_t, uint8_t>;  // received code, ISO 8859-1 code

constexpr ByteTable MakeTable(std::initializer_list<Replacement> replacements) {
  ByteTable table{};
  for (int code = 0; code < 256; ++code) table[code] = static_cast<uint8_t>(code);
  for (const Replacement& entry : replacements) table[entry.first] = entry.second;
  return table;
}

constexpr ByteTable Swedish7Bit = MakeTable({
    {0x5B, 0xC4},  // [ to A umlaut
    {0x5D, 0xC5},  // ] to A ring
    {0x5C, 0xD6},  // \ to O umlaut
    {0x7B, 0xE4},  // { to a umlaut
    {0x7D, 0xE5},  // } to a ring
    {0x7C, 0xF6},  // | to o umlaut
});

constexpr ByteTable DosCodePage = MakeTable({
    {0x8E, 0xC4},  // A umlaut
    {0x8F, 0xC5},  // A ring
    {0x99, 0xD6},  // O umlaut
    {0x84, 0xE4},  // a umlaut
    {0x86, 0xE5},  // a ring
    {0x94, 0xF6},  // o umlaut
    {0xF8, 0xB0},  // degree sign
    {0xFC, 0xB3},  // superscript three
    {0x9A, 0xDC},  // U umlaut
    {0x82, 0xE9},  // e acute
    {0x90, 0xC9},  // E acute
    {0x91, 0xE6},  // ae
    {0x92, 0xC6},  // AE
    {0x9B, 0xF8},  // o slash
    {0x9D, 0xD8},  // O slash
    {0xEC, 0xF8},  // o slash
    {0xED, 0xD8},  // O slash
});

void ApplyTable(const ByteTable& table, std::string& text) {
  for (char& c : text) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
}

}  // namespace

void Swedish7BitToLatin1(std::string& text) {
  ApplyTable(Swedish7Bit, text);
}

void DOSToLatin1(std::string& text) {
  ApplyTable(DosCodePage, text);
}

}  // namespace tarvel
