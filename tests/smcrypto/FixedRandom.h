// Replaces the library's random generator with one that always yields the
// given number (right-aligned in whatever length is asked), so that the
// published SM2 examples with their fixed k can be reproduced.
#pragma once

#include <openssl/rand.h>

#include <cstring>
#include <vector>

class FixedRandom {
public:
    explicit FixedRandom(std::vector<uint8_t> value) : m_previous(RAND_get_rand_method())
    {
        Value() = std::move(value);
        static const RAND_METHOD method = {nullptr, Bytes, nullptr, nullptr, Bytes, Status};
        RAND_set_rand_method(&method);
    }
    ~FixedRandom() { RAND_set_rand_method(m_previous); }
    FixedRandom(const FixedRandom &) = delete;
    FixedRandom &operator=(const FixedRandom &) = delete;

private:
    static std::vector<uint8_t> &Value()
    {
        static std::vector<uint8_t> v;
        return v;
    }
    static int Bytes(unsigned char *buf, int num)
    {
        const std::vector<uint8_t> &v = Value();
        std::memset(buf, 0, size_t(num));
        size_t n = v.size() < size_t(num) ? v.size() : size_t(num);
        std::memcpy(buf + num - n, v.data() + v.size() - n, n);
        return 1;
    }
    static int Status() { return 1; }

    const RAND_METHOD *m_previous;
};
