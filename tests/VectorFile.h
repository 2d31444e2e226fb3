// Reader of the stanza files under tests/vectors: "Key = Value" lines,
// stanzas separated by blank lines, '#' starting a comment line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace test_vectors {

using Stanza = std::map<std::string, std::string>;

std::vector<Stanza> ReadVectorFile(const std::string& name);
// The stanza whose Name is name; throws when there is none.
Stanza FindStanza(const std::vector<Stanza>& stanzas, const std::string& name);
// Hexadecimal text to bytes; spaces between digits are skipped.
std::vector<uint8_t> Hex(const std::string& text);
std::string ToHex(const uint8_t* data, size_t length);
inline std::string ToHex(const std::vector<uint8_t>& bytes)
{
    return ToHex(bytes.data(), bytes.size());
}
inline std::vector<uint8_t> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

} // namespace test_vectors
