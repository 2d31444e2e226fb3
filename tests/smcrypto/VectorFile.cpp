#include "VectorFile.h"

#include <fstream>
#include <stdexcept>

namespace {

std::string Trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

} // namespace

std::vector<Stanza> ReadVectorFile(const std::string &name)
{
    std::ifstream in(std::string(SMCRYPTO_VECTOR_DIR) + "/" + name);
    if (!in)
        throw std::runtime_error("cannot open vector file " + name);
    std::vector<Stanza> out;
    Stanza cur;
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (!line.empty() && line[0] == '#')
            continue;
        size_t eq = line.find('=');
        if (line.empty() || eq == std::string::npos) {
            if (!cur.empty())
                out.push_back(cur);
            cur.clear();
            continue;
        }
        cur[Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
    }
    if (!cur.empty())
        out.push_back(cur);
    return out;
}

std::vector<uint8_t> FromHex(const std::string &hex)
{
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : hex)
        if (c != ' ')
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const uint8_t *data, size_t len)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < len; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}
