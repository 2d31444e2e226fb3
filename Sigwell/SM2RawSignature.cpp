#include "SM2RawSignature.h"

#include "ASN1Encoder.h"
#include "TraceHelper.h"

#include <algorithm>

namespace {

// One INTEGER's value bytes in DER: no redundant leading zero, and a zero
// byte before a value whose top bit is set, so that it stays positive.
void AppendMinimalInteger(const BYTE *pbValue, DWORD cbValue, BYTE *pbOut, DWORD *pcbOut)
{
    DWORD iFirst = 0;
    while (iFirst + 1 < cbValue && pbValue[iFirst] == 0x00) ++iFirst;
    DWORD cbOut = 0;
    if (pbValue[iFirst] & 0x80) pbOut[cbOut++] = 0x00;
    std::copy(pbValue + iFirst, pbValue + cbValue, pbOut + cbOut);
    *pcbOut = cbOut + (cbValue - iFirst);
}

} // namespace

HRESULT SM2EncodeRawSignature(DWORD *pcbEncoded, const BYTE *pbRawSignature, DWORD cbRawSignature, BYTE **ppbEncoded,
                              DWORD dwEncodingType)
{
    if (dwEncodingType != SM2_SIGNATURE_DER_SEQUENCE && dwEncodingType != SM2_SIGNATURE_DER_OCTET_STRING) {
        TraceStatus(L"Invalid SM2 signature encoded type", E_INVALIDARG);
        return E_INVALIDARG;
    }
    if (pbRawSignature == nullptr || cbRawSignature != SM2_RAW_SIGNATURE_SIZE) {
        HRESULT hResult = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        TraceStatus(L"Check SM2 raw signature size", hResult);
        return hResult;
    }

    const DWORD cbHalf = SM2_RAW_SIGNATURE_SIZE / 2;
    BYTE abR[cbHalf + 1], abS[cbHalf + 1];
    DWORD cbR = 0, cbS = 0;
    AppendMinimalInteger(pbRawSignature, cbHalf, abR, &cbR);
    AppendMinimalInteger(pbRawSignature + cbHalf, cbHalf, abS, &cbS);

    BYTE *pbIntR = nullptr, *pbIntS = nullptr, *pbSequence = nullptr;
    DWORD cbIntR = 0, cbIntS = 0, cbSequence = 0;
    HRESULT hResult = ASN1Encode(0x02, abR, cbR, &pbIntR, &cbIntR);
    if (SUCCEEDED(hResult)) hResult = ASN1Encode(0x02, abS, cbS, &pbIntS, &cbIntS);
    if (SUCCEEDED(hResult)) {
        const ASN1_PIECE aPieces[] = {{pbIntR, cbIntR}, {pbIntS, cbIntS}};
        hResult = ASN1EncodeConcatenated(0x30, aPieces, 2, &pbSequence, &cbSequence);
    }
    delete[] pbIntR;
    delete[] pbIntS;
    if (FAILED(hResult)) {
        TraceStatus(L"ASN1Encode(SM2 signature)", hResult);
        return hResult;
    }
    if (dwEncodingType == SM2_SIGNATURE_DER_SEQUENCE) {
        *ppbEncoded = pbSequence;
        *pcbEncoded = cbSequence;
        return S_OK;
    }
    hResult = ASN1Encode(0x04, pbSequence, cbSequence, ppbEncoded, pcbEncoded);
    delete[] pbSequence;
    if (FAILED(hResult)) TraceStatus(L"ASN1Encode(SM2 signature OCTET STRING)", hResult);
    return hResult;
}
