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
    if (nid != NID_undef) return nid;
    return OBJ_create(row.oid, row.sn, row.ln);
}

struct Nids {
    int nid[Count];
    Nids() : nid()
    {
        for (int i = 0; i < Count; ++i) nid[i] = FindOrCreate(kRows[i]);
    }
};

int NidOf(ObjectIndex i)
{
    static const Nids nids;
    return nids.nid[i];
}

// The names this system gives objects that the library numbers itself.
struct AliasRow {
    int nid;
    const char *name;
};

constexpr AliasRow kAliases[] = {
    {NID_sm2, "ChinaSM2256"},
    {NID_sm2, "prime256v1SM2"},
    {NID_sm3, "sm3"},
    {NID_sm3, "ChinaSM3"},
    {NID_sm4_cbc, "sm4-cbc"},
    {NID_sm4_cbc, "ChinaSM4-CBC"},
    {NID_SM2_with_SM3, "sm2-sm3"},
    {NID_SM2_with_SM3, "ChinaSM2withSM3"},
};

// An object without an OID carries the alias: name lookups find the
// library's number, and lookups by OID stay unique. Names that already
// resolve are left alone.
int AddAliases()
{
    for (const AliasRow &alias : kAliases) {
        if (OBJ_sn2nid(alias.name) != NID_undef || OBJ_ln2nid(alias.name) != NID_undef) continue;
        ASN1_OBJECT *obj = ASN1_OBJECT_create(alias.nid, nullptr, 0, alias.name, alias.name);
        const int added = obj != nullptr ? OBJ_add_object(obj) : NID_undef;
        ASN1_OBJECT_free(obj);
        if (added == NID_undef) return 0;
    }
    return 1;
}

} // namespace

int SmAddObjectAliases()
{
    // The row objects first: one of them may own an alias's name.
    SmNidSm2TestCurve();
    static const int result = AddAliases();
    return result;
}

int SmNidSm2TestCurve()
{
    return NidOf(TestCurve);
}
int SmNidSm4CbcObject()
{
    return NidOf(Sm4CbcObject);
}
int SmNidSm1Cbc()
{
    return NidOf(Sm1Cbc);
}
int SmNidZuc()
{
    return NidOf(Zuc);
}
int SmNidSm2Sm3Pkcs7()
{
    return NidOf(Sm2Sm3Pkcs7);
}
int SmNidPkcs7Data()
{
    return NidOf(Pkcs7Data);
}
int SmNidPkcs7SignedData()
{
    return NidOf(Pkcs7Signed);
}
