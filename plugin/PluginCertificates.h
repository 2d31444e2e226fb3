// Certificate functions of the trust-chain installer: the whole filter over
// certificates of a system store, its provider-name test, and the lenient
// Base64 decoder of the chain resources.
#pragma once

#include "CertificateFilter.h"
#include "CertificateQuery.h"

#include <windows.h>
#include <wincrypt.h>

// Appends duplicates of the candidates that pass the filter (null passes
// all) to vtrResult; the candidates stay the caller's. On a failed
// duplication vtrResult is emptied and the status returned.
HRESULT FilterCertificates(const CERT_FILTER *pFilter, CertificateVector &vtrResult, CertificateVector vtrCandidates);

// 0 when the list is empty or the certificate's key provider name contains
// one of its names (any case); E_FAIL when none matches.
HRESULT CheckCSPName(PCCERT_CONTEXT pCertContext, StringVector vtrCSPNames);

// Decodes nLength characters into a new[] buffer of nLength bytes (the
// caller frees it with delete[]); characters outside the alphabet are
// skipped. E_FAIL for an empty text.
HRESULT Base64DecodeEx(const char *pszText, int nLength, BYTE **ppbData, DWORD *pcbData);
