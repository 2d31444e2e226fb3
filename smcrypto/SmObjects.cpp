#include "SmObjects.h"

#include <openssl/objects.h>

namespace {

enum ObjectIndex { TestCurve, Sm4CbcObject, Sm1Cbc, Zuc, Sm2Sm3Pkcs7, Pkcs7Data, Pkcs7Signed, Count };

struct ObjectRow {
    const char *oid;
    const char *sn;
    const char *ln;
};

// Fixed numbers 920 to 930 cannot be had: the library hands out its own
// numbers above its table. 1.2.156.10197.1.104 keeps only the long name,
// because the library's SM4-CBC already owns the name "sm4-cbc".
constexpr ObjectRow kRows[Count] = {
    {"1.2.156.10197.1.888", "ChinaSM2TEST256", "prime256v1SM2TEST"},
    {"1.2.156.10197.1.104", "ChinaSM4-CBC", "ChinaSM4-CBC"},
    {"1.2.156.10197.1.102", "sm1-cbc", "ChinaSM1-CBC"},
    {"1.2.156.10197.1.105", "zuc", "ChinaZUC"},
    {"1.2.156.10197.1.301.1", "sm2-sm3-pkcs7", "ChinaSM2withSM3PKCS7"},
    {"1.2.156.10197.6.1.4.2.1", "sm-pkcs7-data", "SM-pkcs7-data"},
    {"1.2.156.10197.6.1.4.2.2", "sm-pkcs7-signedData", "SM-pkcs7-signed"},
};

// An object already known (by its OID) is reused, never created again:
// a second entry for one OID would make lookups ambiguous.
int FindOrCreate(const ObjectRow &row)
{
    ASN1_OBJECT *obj = OBJ_txt2obj(row.oid, 1);
    int nid = obj != nullptr ? OBJ_obj2nid(obj) : NID_undef;
    ASN1_OBJECT_free(obj);
    if (nid != NID_undef)
        return nid;
    return OBJ_create(row.oid, row.sn, row.ln);
}

struct Nids {
    int nid[Count];
    Nids() : nid()
    {
        for (int i = 0; i < Count; ++i)
            nid[i] = FindOrCreate(kRows[i]);
    }
};

int NidOf(ObjectIndex i)
{
    static const Nids nids;
    return nids.nid[i];
}

} // namespace

int SmNidSm2TestCurve() { return NidOf(TestCurve); }
int SmNidSm4CbcObject() { return NidOf(Sm4CbcObject); }
int SmNidSm1Cbc() { return NidOf(Sm1Cbc); }
int SmNidZuc() { return NidOf(Zuc); }
int SmNidSm2Sm3Pkcs7() { return NidOf(Sm2Sm3Pkcs7); }
int SmNidPkcs7Data() { return NidOf(Pkcs7Data); }
int SmNidPkcs7SignedData() { return NidOf(Pkcs7Signed); }
