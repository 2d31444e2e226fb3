// ZUC stream cipher (GM/T 0001-2012) over bytes; no dependency on the
// crypto library.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t ZUC_KEY_LENGTH = 16;
constexpr size_t ZUC_IV_LENGTH = 16;

struct ZUC_STATE {
    uint32_t s[16];
    uint32_t R1, R2;
    uint32_t X0, X1, X2, X3;
    // Key-stream bytes of the last word not yet used, so that the stream
    // does not depend on how the caller splits its data.
    uint8_t pending[4];
    uint32_t pendingCount;
};

void zuc_initialize(const uint8_t key[ZUC_KEY_LENGTH], const uint8_t iv[ZUC_IV_LENGTH], ZUC_STATE *state);
uint32_t zuc_next_word(ZUC_STATE *state);

// XORs len bytes with the key stream, continuing where the last call stopped.
void ZucXorStream(ZUC_STATE *state, const uint8_t *in, uint8_t *out, size_t len);
