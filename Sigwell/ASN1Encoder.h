// A small DER encoder: one tag, its definite length and the value.
#pragma once

#include <windows.h>

// Most length octets a 32-bit value length needs: 0x84 and four bytes.
const DWORD ASN1_MAX_LENGTH_OCTETS = 5;

// Encodes tag, length and value into a new[] buffer the caller frees.
// Tags: INTEGER, OCTET STRING, OBJECT IDENTIFIER, the string types, SEQUENCE,
// SET and [0] primitive or constructed; any other tag or an empty value is
// E_FAIL.
HRESULT ASN1Encode(DWORD dwTag, const BYTE *pbValue, DWORD cbValue, BYTE **ppbEncoded, DWORD *pcbEncoded);

// DER length octets for a value length into abLength (capacity
// ASN1_MAX_LENGTH_OCTETS): short form below 128, else the long form with
// no leading zero byte. A length of 0 is E_FAIL.
HRESULT CalculateASNValueLength(DWORD cbValue, BYTE *pbLength, DWORD *pcbLength);

// One piece of a constructed value: bytes that are already DER.
struct ASN1_PIECE {
    const BYTE *pbData;
    DWORD cbData;
};

// ASN1Encode over the pieces laid end to end, in order.
HRESULT ASN1EncodeConcatenated(DWORD dwTag, const ASN1_PIECE *pPieces, size_t nPieces, BYTE **ppbEncoded,
                               DWORD *pcbEncoded);
