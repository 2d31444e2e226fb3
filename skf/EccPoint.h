// The check that a public key handed in as an ECCPUBLICKEYBLOB is a point
// of the SM2 curve, made before the key is used.
#pragma once

#include "SkfKeyDefs.h"

// BitLen 256, both coordinates below p, and y^2 = x^3 + ax + b.
bool IsSm2Point(const ECCPUBLICKEYBLOB& blob);
