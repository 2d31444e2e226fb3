// Object identifiers of the SM algorithms. The crypto library already
// numbers SM2, SM3, SM4-CBC and SM2-with-SM3 itself, and its numbers are
// the ones to use; the others get numbers at run time, made once per
// process on first use.
#pragma once

#include <openssl/obj_mac.h>

constexpr int SM_NID_SM2_CURVE = NID_sm2;             // 1.2.156.10197.1.301
constexpr int SM_NID_SM3 = NID_sm3;                   // 1.2.156.10197.1.401
constexpr int SM_NID_SM4_CBC = NID_sm4_cbc;           // 1.2.156.10197.1.104.2 in the library
constexpr int SM_NID_SM2_WITH_SM3 = NID_SM2_with_SM3; // 1.2.156.10197.1.501

// Each returns NID_undef when the object could not be created.
int SmNidSm2TestCurve();    // 1.2.156.10197.1.888
int SmNidSm4CbcObject();    // 1.2.156.10197.1.104
int SmNidSm1Cbc();          // 1.2.156.10197.1.102
int SmNidZuc();             // 1.2.156.10197.1.105
int SmNidSm2Sm3Pkcs7();     // 1.2.156.10197.1.301.1
int SmNidPkcs7Data();       // 1.2.156.10197.6.1.4.2.1
int SmNidPkcs7SignedData(); // 1.2.156.10197.6.1.4.2.2

// Names of the objects above that the library does not know under this
// system's names, such as "ChinaSM3", made to resolve by name; 0 on failure.
int SmAddObjectAliases();
