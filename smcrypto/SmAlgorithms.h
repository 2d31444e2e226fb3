// Registration of the SM algorithms with the crypto library's name tables.
#pragma once

// Adds SM3 ("sm3", "ChinaSM3", "tls1-sm3", "sm2-sm3", "ChinaSM2withSM3"),
// SM4-CBC ("sm4-cbc", "ChinaSM4-CBC") and ZUC ("zuc", "ChinaZUC") so that
// EVP_get_digestbyname / EVP_get_cipherbyname return this library's
// methods. Call it after OpenSSL_add_all_algorithms; the work is done once
// per process whatever the number of callers or threads. Returns 1, or 0
// when a method could not be made or registered.
//
// The registration lasts until the process ends: EVP_cleanup no longer
// empties the name tables. The SM2 curves are not added to the library's
// built-in curve list, which cannot be extended: the recommended curve is
// already there under the library's own name and the example curve is
// made by SmCurveGroupNew.
int RegisterSmAlgorithms();
