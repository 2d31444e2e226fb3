// Reader for the stanza files under tests/vectors: "Name = value" lines,
// stanzas separated by blank lines, '#' starts a comment line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

using Stanza = std::map<std::string, std::string>;

std::vector<Stanza> ReadVectorFile(const std::string &name);
std::vector<uint8_t> FromHex(const std::string &hex);
std::string ToHex(const uint8_t *data, size_t len);
inline std::string ToHex(const std::vector<uint8_t> &v) { return ToHex(v.data(), v.size()); }
