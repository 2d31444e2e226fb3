// Import of the CA chains the plug-in carries as XML resources: root
// certificates into the machine's root-store registry key, the bundle's
// intermediate certificates into the machine's "CA" store.
#pragma once

#include <windows.h>

// The calling thread must have initialised COM.
HRESULT ImportCertificateChainfromResoure(WORD wResourceID);
// The same over an XML text in UTF-8.
HRESULT ImportCertificateChainfromBlobData(const BYTE *pbResData, DWORD cbResData);

// The certificate (property 32) of a serialized store element given as
// Base64 text: a new[] buffer and its size.
HRESULT GetCertFromCertificateBlobProperties(LPCWSTR pwszContent, BYTE **ppbCert, DWORD *pcbCert);
