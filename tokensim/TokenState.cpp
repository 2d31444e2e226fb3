#include "TokenState.h"

#include "DeviceTable.h"

#include <windows.h>

#include <cjson/cJSON.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

namespace tokensim {
namespace {

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

bool Unhex(const char* text, Bytes& out)
{
    out.clear();
    auto nibble = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (; text[0] && text[1]; text += 2) {
        int hi = nibble(text[0]), lo = nibble(text[1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return text[0] == 0;
}

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

void AddBytes(cJSON* object, const char* key, const Bytes& bytes)
{
    cJSON_AddStringToObject(object, key, Hex(bytes).c_str());
}

void AddByteList(cJSON* object, const char* key, const std::vector<Bytes>& list)
{
    cJSON* array = cJSON_AddArrayToObject(object, key);
    for (const Bytes& b : list) cJSON_AddItemToArray(array, cJSON_CreateString(Hex(b).c_str()));
}

// An array under key with one object a list entry, filled by fill.
template <typename List, typename Fill>
void AddObjectArray(cJSON* object, const char* key, const List& list, Fill fill)
{
    cJSON* array = cJSON_AddArrayToObject(object, key);
    for (const auto& entry : list) {
        cJSON* item = cJSON_CreateObject();
        fill(item, entry);
        cJSON_AddItemToArray(array, item);
    }
}

cJSON* PinToJson(const Pin& pin)
{
    cJSON* o = cJSON_CreateObject();
    cJSON_AddStringToObject(o, "value", pin.value.c_str());
    cJSON_AddNumberToObject(o, "triesLeft", pin.triesLeft);
    cJSON_AddNumberToObject(o, "maxTries", pin.maxTries);
    cJSON_AddBoolToObject(o, "factoryDefault", pin.factoryDefault);
    return o;
}

cJSON* TokenToJson(const Token& t)
{
    cJSON* o = cJSON_CreateObject();
    cJSON_AddStringToObject(o, "name", t.name.c_str());
    cJSON_AddStringToObject(o, "label", t.label.c_str());
    cJSON_AddStringToObject(o, "serial", t.serial.c_str());
    cJSON_AddBoolToObject(o, "present", t.present);
    cJSON_AddNumberToObject(o, "kind", t.kind);
    cJSON_AddNumberToObject(o, "insertion", t.insertion);
    cJSON_AddItemToObject(o, "userPin", PinToJson(t.user));
    if (t.admin) cJSON_AddItemToObject(o, "adminPin", PinToJson(*t.admin));
    AddObjectArray(o, "containers", t.containers, [](cJSON* item, const Container& c) {
        AddBytes(item, "header", Bytes(c.header, c.header + sizeof c.header));
        cJSON_AddStringToObject(item, "name", c.name.c_str());
    });
    AddObjectArray(o, "keys", t.keys, [](cJSON* item, const KeyPair& k) {
        cJSON_AddNumberToObject(item, "number", k.number);
        cJSON_AddNumberToObject(item, "algorithm", k.algorithm);
        cJSON_AddNumberToObject(item, "bits", k.bits);
        AddByteList(item, "public", k.publicPart);
        AddByteList(item, "private", k.privatePart);
    });
    AddObjectArray(o, "certificates", t.certs, [](cJSON* item, const Certificate& c) {
        cJSON_AddNumberToObject(item, "number", c.number);
        AddBytes(item, "data", c.data);
    });
    AddObjectArray(o, "dataObjects", t.objects, [](cJSON* item, const DataObject& d) {
        cJSON_AddStringToObject(item, "name", d.name.c_str());
        AddBytes(item, "data", d.data);
    });
    return o;
}

const char* Text(const cJSON* o, const char* key)
{
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(o, key);
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

bool TextField(const cJSON* o, const char* key, std::string& out)
{
    const char* text = Text(o, key);
    if (!text) return false;
    out = text;
    return true;
}

bool BytesField(const cJSON* o, const char* key, Bytes& out)
{
    const char* text = Text(o, key);
    return text && Unhex(text, out);
}

template <typename T>
bool NumberField(const cJSON* o, const char* key, T& out)
{
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(o, key);
    if (!cJSON_IsNumber(item)) return false;
    out = static_cast<T>(item->valuedouble);
    return true;
}

bool ByteListField(const cJSON* o, const char* key, std::vector<Bytes>& out)
{
    const cJSON* array = cJSON_GetObjectItemCaseSensitive(o, key);
    if (!cJSON_IsArray(array)) return false;
    const cJSON* item;
    cJSON_ArrayForEach(item, array)
    {
        Bytes b;
        if (!cJSON_IsString(item) || !Unhex(item->valuestring, b)) return false;
        out.push_back(b);
    }
    return true;
}

bool PinFromJson(const cJSON* o, Pin& pin)
{
    const cJSON* fd = cJSON_GetObjectItemCaseSensitive(o, "factoryDefault");
    pin.factoryDefault = cJSON_IsTrue(fd);
    return TextField(o, "value", pin.value) && NumberField(o, "triesLeft", pin.triesLeft) &&
        NumberField(o, "maxTries", pin.maxTries);
}

bool TokenFromJson(const cJSON* o, Token& t)
{
    const cJSON* userPin = cJSON_GetObjectItemCaseSensitive(o, "userPin");
    if (!TextField(o, "name", t.name) || !TextField(o, "label", t.label) || !TextField(o, "serial", t.serial) ||
        !NumberField(o, "kind", t.kind) || !userPin || !PinFromJson(userPin, t.user))
        return false;
    t.present = cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(o, "present"));
    NumberField(o, "insertion", t.insertion);
    if (const cJSON* adminPin = cJSON_GetObjectItemCaseSensitive(o, "adminPin")) {
        t.admin.emplace();
        if (!PinFromJson(adminPin, *t.admin)) return false;
    }
    const cJSON* item;
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(o, "containers"))
    {
        Container c;
        Bytes header;
        if (!BytesField(item, "header", header) || header.size() != sizeof c.header || !TextField(item, "name", c.name))
            return false;
        std::copy(header.begin(), header.end(), c.header);
        t.containers.push_back(c);
    }
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(o, "keys"))
    {
        KeyPair k;
        if (!NumberField(item, "number", k.number) || !NumberField(item, "algorithm", k.algorithm) ||
            !NumberField(item, "bits", k.bits) || !ByteListField(item, "public", k.publicPart) ||
            !ByteListField(item, "private", k.privatePart))
            return false;
        t.keys.push_back(k);
    }
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(o, "certificates"))
    {
        Certificate c;
        if (!NumberField(item, "number", c.number) || !BytesField(item, "data", c.data)) return false;
        t.certs.push_back(c);
    }
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(o, "dataObjects"))
    {
        DataObject d;
        if (!TextField(item, "name", d.name) || !BytesField(item, "data", d.data)) return false;
        t.objects.push_back(d);
    }
    return true;
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

} // namespace

Container* Token::FindContainer(std::uint8_t number)
{
    for (Container& c : containers)
        if (number != 0 && c.Number() == number) return &c;
    return nullptr;
}

KeyPair* Token::FindKey(std::uint8_t number)
{
    for (KeyPair& k : keys)
        if (k.number == number) return &k;
    return nullptr;
}

Certificate* Token::FindCert(std::uint8_t number)
{
    for (Certificate& c : certs)
        if (c.number == number) return &c;
    return nullptr;
}

DataObject* Token::FindObject(const std::string& objectName)
{
    for (DataObject& d : objects)
        if (d.name == objectName) return &d;
    return nullptr;
}

namespace {

constexpr std::size_t kMaxContainers = 32;

// The smallest number that none of the given header bytes holds yet.
std::uint8_t FreeNumber(const std::vector<Container>& containers, std::initializer_list<std::size_t> offsets)
{
    for (unsigned n = 1; n < 256; ++n) {
        bool used = std::any_of(containers.begin(), containers.end(), [&](const Container& c) {
            return std::any_of(offsets.begin(), offsets.end(), [&](std::size_t o) { return c.header[o] == n; });
        });
        if (!used) return static_cast<std::uint8_t>(n);
    }
    return 0;
}

void SetPair(std::uint8_t* header, std::size_t at, std::uint8_t pair, std::uint8_t cert)
{
    // Kinds name the RSA halves; cards accept either algorithm's kinds, as
    // the number alone picks the pair.
    header[at] = devicelib::UK_REF_RSA_PUBLIC;
    header[at + 1] = pair;
    header[at + 2] = devicelib::UK_REF_RSA_PRIVATE;
    header[at + 3] = pair;
    header[at + 4] = devicelib::UK_REF_CERT;
    header[at + 5] = cert;
}

} // namespace

Container* Token::AddContainer(const std::string& containerName)
{
    if (containers.size() >= kMaxContainers) return nullptr;
    Container c;
    c.name = containerName;
    std::vector<Container> all = containers;
    c.header[1] = FreeNumber(all, {1});
    std::uint8_t pair = FreeNumber(all, {6, 12}), cert = FreeNumber(all, {10, 16});
    SetPair(c.header, 5, pair, cert);
    all.push_back(c);
    std::uint8_t pair2 = FreeNumber(all, {6, 12}), cert2 = FreeNumber(all, {10, 16});
    SetPair(c.header, 11, pair2, cert2);
    if (!c.header[1] || !pair || !cert || !pair2 || !cert2) return nullptr;
    containers.push_back(c);
    return &containers.back();
}

Token* State::FindToken(const std::string& name)
{
    for (Token& t : tokens)
        if (SameText(t.name, name)) return &t;
    return nullptr;
}

Token* State::FindBySerial(const std::string& serial)
{
    for (Token& t : tokens)
        if (t.serial == serial) return &t;
    return nullptr;
}

std::string ToJson(const State& state)
{
    Json root(cJSON_CreateObject(), cJSON_Delete);
    cJSON_AddNumberToObject(root.get(), "version", 1);
    cJSON* tokens = cJSON_AddArrayToObject(root.get(), "tokens");
    for (const Token& t : state.tokens) cJSON_AddItemToArray(tokens, TokenToJson(t));
    cJSON* faults = cJSON_AddArrayToObject(root.get(), "faults");
    for (const Fault& f : state.faults) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddNumberToObject(item, "slot", f.slot);
        cJSON_AddNumberToObject(item, "code", f.code);
        cJSON_AddNumberToObject(item, "count", f.count);
        if (f.answerLength >= 0) cJSON_AddNumberToObject(item, "answerLength", f.answerLength);
        cJSON_AddItemToArray(faults, item);
    }
    AddBytes(root.get(), "caKey", state.caKey);
    AddBytes(root.get(), "caCert", state.caCert);
    std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_Print(root.get()), cJSON_free);
    return text ? std::string(text.get()) + "\n" : std::string();
}

bool FromJson(const std::string& text, State& state)
{
    state = State();
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) return true; // a new store
    Json root(cJSON_Parse(text.c_str()), cJSON_Delete);
    if (!root) return false;
    const cJSON* item;
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(root.get(), "tokens"))
    {
        Token t;
        if (!TokenFromJson(item, t)) return false;
        state.tokens.push_back(t);
    }
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(root.get(), "faults"))
    {
        Fault f;
        if (!NumberField(item, "slot", f.slot) || !NumberField(item, "code", f.code) ||
            !NumberField(item, "count", f.count))
            return false;
        NumberField(item, "answerLength", f.answerLength);
        state.faults.push_back(f);
    }
    BytesField(root.get(), "caKey", state.caKey);
    BytesField(root.get(), "caCert", state.caCert);
    return true;
}

std::wstring StatePath()
{
    std::wstring path = Environment(L"SIGWELL_TOKENSIM_STATE");
    if (!path.empty()) return path;
    std::wstring folder = Environment(L"USERPROFILE") + L"\\tokensim";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\state.json";
}

StateLock::StateLock()
{
    HANDLE file = CreateFileW(StatePath().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED whole = {};
    if (file != INVALID_HANDLE_VALUE && !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    m_file = file;
}

StateLock::~StateLock()
{
    if (m_file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED whole = {};
    UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(m_file);
}

bool StateLock::Load(State& state)
{
    if (m_file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_file, &size) || size.QuadPart > 64 * 1024 * 1024) return false;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    SetFilePointer(m_file, 0, nullptr, FILE_BEGIN);
    if (!text.empty() &&
        (!ReadFile(m_file, &text[0], static_cast<DWORD>(text.size()), &read, nullptr) || read != text.size()))
        return false;
    return FromJson(text, state);
}

bool StateLock::Save(const State& state)
{
    if (m_file == INVALID_HANDLE_VALUE) return false;
    std::string text = ToJson(state);
    DWORD written = 0;
    SetFilePointer(m_file, 0, nullptr, FILE_BEGIN);
    return WriteFile(m_file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size() && SetEndOfFile(m_file);
}

std::string DeviceNameFor(const std::string& serial)
{
    return "\\\\?\\usbstor#cdrom&ven_vesk&prod_ukey&rev_1.00#" + serial + "&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
}

} // namespace tokensim
