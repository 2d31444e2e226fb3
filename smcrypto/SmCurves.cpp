#include "SmCurves.h"

#include "SmObjects.h"

#include "OsslPtr.h"

namespace {

struct CurveHex {
    const char *p, *a, *b, *gx, *gy, *n;
};

constexpr CurveHex kExampleCurve = {
    "8542D69E4C044F18E8B92435BF6FF7DE457283915C45517D722EDB8B08F1DFC3",
    "787968B4FA32C3FD2417842E73BBFEFF2F3C848B6831D7E0EC65228B3937E498",
    "63E4C6D3B23B0C849CF84241484BFE48F61D59A5B16BA06E6E12D1DA27C5249A",
    "421DEBD61B62EAB6746434EBC3CC315E32220B3BADD50BDC4C4E6C147FEDD43D",
    "0680512BCBB42C07D47349D2153B70C4E5D7FDFCBFA36EA1A85841B9E46E09A2",
    "8542D69E4C044F18E8B92435BF6FF7DD297720630485628D5AE74EE7C32E79B7",
};

BnPtr Hex(const char *text)
{
    BIGNUM *b = nullptr;
    return BnPtr(BN_hex2bn(&b, text) != 0 ? b : nullptr);
}

EC_GROUP *NewGroupFromHex(const CurveHex &c, int nid)
{
    BnPtr p = Hex(c.p), a = Hex(c.a), b = Hex(c.b), gx = Hex(c.gx), gy = Hex(c.gy), n = Hex(c.n);
    BnPtr one = Hex("1");
    if (!p || !a || !b || !gx || !gy || !n || !one) return nullptr;
    EC_GROUP *group = EC_GROUP_new_curve_GFp(p.get(), a.get(), b.get(), nullptr);
    if (group == nullptr) return nullptr;
    EC_POINT *g = EC_POINT_new(group);
    bool ok = g != nullptr && EC_POINT_set_affine_coordinates(group, g, gx.get(), gy.get(), nullptr) &&
        EC_GROUP_set_generator(group, g, n.get(), one.get());
    EC_POINT_free(g);
    if (!ok) {
        EC_GROUP_free(group);
        return nullptr;
    }
    EC_GROUP_set_curve_name(group, nid);
    return group;
}

} // namespace

bool SmIsSm2CurveNid(int nid)
{
    return nid != NID_undef && (nid == SM_NID_SM2_CURVE || nid == SmNidSm2TestCurve());
}

EC_GROUP *SmCurveGroupNew(int nid)
{
    if (nid == SM_NID_SM2_CURVE) return EC_GROUP_new_by_curve_name(nid);
    if (nid != NID_undef && nid == SmNidSm2TestCurve()) return NewGroupFromHex(kExampleCurve, nid);
    return nullptr;
}
