// Groups of the two SM2 curves: the recommended curve, which the crypto
// library has built in, and the example curve of the standard, which it
// lacks and which is built here from its parameters.
#pragma once

#include <openssl/ec.h>

// True for the SM2 curve and the SM2 example curve.
bool SmIsSm2CurveNid(int nid);

// A new group for either curve, or null; the caller frees it.
EC_GROUP *SmCurveGroupNew(int nid);
