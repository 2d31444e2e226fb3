#include "ASN1Encoder.h"

#include "TraceHelper.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

bool IsSupportedTag(BYTE bTag)
{
    switch (bTag) {
    case 0x02: // INTEGER
    case 0x04: // OCTET STRING
    case 0x06: // OBJECT IDENTIFIER
    case 0x0C: // UTF8String
    case 0x13: // PrintableString
    case 0x16: // IA5String
    case 0x1E: // BMPString
    case 0x30: // SEQUENCE
    case 0x31: // SET
    case 0x80: // [0] primitive
    case 0xA0: // [0] constructed
        return true;
    default:
        return false;
    }
}

} // namespace

HRESULT CalculateASNValueLength(DWORD cbValue, BYTE *pbLength, DWORD *pcbLength)
{
    if (cbValue == 0) {
        TraceErrorReport(L"CalculateASNValueLength", L"Value length is 0");
        return E_FAIL;
    }
    if (cbValue < 0x80) {
        pbLength[0] = static_cast<BYTE>(cbValue);
        *pcbLength = 1;
        return S_OK;
    }
    DWORD cbOctets = 0;
    for (DWORD dwRest = cbValue; dwRest != 0; dwRest >>= 8) ++cbOctets;
    pbLength[0] = static_cast<BYTE>(0x80 | cbOctets);
    for (DWORD i = 0; i < cbOctets; ++i) pbLength[cbOctets - i] = static_cast<BYTE>(cbValue >> (8 * i));
    *pcbLength = cbOctets + 1;
    return S_OK;
}

HRESULT ASN1Encode(DWORD dwTag, const BYTE *pbValue, DWORD cbValue, BYTE **ppbEncoded, DWORD *pcbEncoded)
{
    BYTE bTag = static_cast<BYTE>(dwTag & 0xFF);
    if (!IsSupportedTag(bTag)) {
        TraceErrorReport(L"ASN1Encode", L"Unsupported tag");
        return E_FAIL;
    }
    BYTE abLength[ASN1_MAX_LENGTH_OCTETS];
    DWORD cbLength = 0;
    HRESULT hResult = CalculateASNValueLength(cbValue, abLength, &cbLength);
    if (FAILED(hResult)) return hResult;

    DWORD cbEncoded = 1 + cbLength + cbValue;
    BYTE *pbEncoded = new (std::nothrow) BYTE[cbEncoded];
    if (pbEncoded == nullptr) {
        TraceStatus(L"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    pbEncoded[0] = bTag;
    memcpy(pbEncoded + 1, abLength, cbLength);
    memcpy(pbEncoded + 1 + cbLength, pbValue, cbValue);
    *ppbEncoded = pbEncoded;
    *pcbEncoded = cbEncoded;
    return S_OK;
}

HRESULT ASN1EncodeConcatenated(DWORD dwTag, const ASN1_PIECE *pPieces, size_t nPieces, BYTE **ppbEncoded,
                               DWORD *pcbEncoded)
{
    DWORD cbValue = 0;
    for (size_t i = 0; i < nPieces; ++i) cbValue += pPieces[i].cbData;
    std::unique_ptr<BYTE[]> pbValue(new (std::nothrow) BYTE[cbValue ? cbValue : 1]);
    if (!pbValue) {
        TraceStatus(L"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    DWORD cbDone = 0;
    for (size_t i = 0; i < nPieces; ++i) {
        memcpy(pbValue.get() + cbDone, pPieces[i].pbData, pPieces[i].cbData);
        cbDone += pPieces[i].cbData;
    }
    return ASN1Encode(dwTag, pbValue.get(), cbValue, ppbEncoded, pcbEncoded);
}
