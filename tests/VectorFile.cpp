#include "VectorFile.h"

#include <fstream>
#include <stdexcept>

namespace test_vectors {
namespace {

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

std::vector<Stanza> ReadVectorFile(const std::string& name)
{
    std::ifstream in(std::string(TEST_VECTOR_DIR) + "/" + name);
    if (!in) throw std::runtime_error("cannot open vector file " + name);
    std::vector<Stanza> stanzas(1);
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (!line.empty() && line[0] == '#') continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            if (!stanzas.back().empty()) stanzas.emplace_back();
            continue;
        }
        stanzas.back()[Trim(line.substr(0, equals))] = Trim(line.substr(equals + 1));
    }
    if (stanzas.back().empty()) stanzas.pop_back();
    return stanzas;
}

Stanza FindStanza(const std::vector<Stanza>& stanzas, const std::string& name)
{
    for (const Stanza& stanza : stanzas) {
        auto it = stanza.find("Name");
        if (it != stanza.end() && it->second == name) return stanza;
    }
    throw std::runtime_error("no stanza " + name);
}

std::vector<uint8_t> Hex(const std::string& text)
{
    std::string digits;
    for (char c : text) {
        if (c != ' ') digits += c;
    }
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string ToHex(const uint8_t* data, size_t length)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

} // namespace test_vectors
