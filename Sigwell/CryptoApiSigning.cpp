#include "CryptoApiSigning.h"

HRESULT GetProviderInfo(DWORD *pcbData, HCRYPTPROV hProv, DWORD dwParam, BYTE **ppbData)
{
    return E_NOTIMPL;
}

BOOL GetAlgorithmIdentifiers(LPCSTR *ppszSignatureObjId, LPCSTR *ppszDigestObjId, ALG_ID algId)
{
    return FALSE;
}

void SwapByteOrder(BYTE *pbData, DWORD cbData)
{
    
}

HRESULT CalculateHashandSign(const BYTE *pbData, PCCERT_CONTEXT pCertContext, DWORD cbData, ALG_ID algId, BYTE **ppbSignature, DWORD *pcbSignature, BOOL bHashAtOnce)
{
    return E_NOTIMPL;
}

HRESULT EncodeObject(const void *pvStructure, DWORD *pcbEncoded, LPCSTR pszStructType, BYTE **ppbEncoded)
{
    return E_NOTIMPL;
}

HRESULT EncapsulatePKCS7(PCCERT_CONTEXT pCertContext, LPCSTR pszDigestObjId, LPCSTR pszSignatureObjId, const BYTE *pbData, DWORD cbData, const BYTE *pbSignature, DWORD cbSignature, BOOL bAttached, DWORD dwBase64Flags, BSTR *pbstrSignature)
{
    return E_NOTIMPL;
}

HRESULT SignBinaryData(BSTR *pbstrSignature, const BYTE *pbData, PCCERT_CONTEXT pCertContext, DWORD cbData, ALG_ID algId, BOOL bAttached)
{
    return E_NOTIMPL;
}
