// DER encodings of a raw SM2 signature r || s.
#pragma once

#include <windows.h>

enum : DWORD {
    SM2_SIGNATURE_DER_SEQUENCE = 2,        // SEQUENCE { INTEGER r, INTEGER s }
    SM2_SIGNATURE_DER_OCTET_STRING = 1024, // that SEQUENCE inside an OCTET STRING
};

const DWORD SM2_RAW_SIGNATURE_SIZE = 64;

// r || s as DER, with minimal INTEGERs: redundant leading zero bytes are
// dropped and one zero byte goes before a value whose top bit is set.
HRESULT SM2EncodeRawSignature(DWORD *pcbEncoded, const BYTE *pbRawSignature, DWORD cbRawSignature, BYTE **ppbEncoded,
                              DWORD dwEncodingType);
