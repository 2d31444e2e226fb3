// The card's own commands of class B0: serial number, user PIN reset,
// clear secure state, and the 9B cipher (key load, data in, data out).
#include "Session.h"
#include "Slots.h"

#include <algorithm>
#include <cstring>

namespace tokensim {
namespace slots {
namespace {

using namespace devicelib;

constexpr u8 kClass = 0xB0;
constexpr u8 kInsSerial = 0x61;
constexpr u8 kInsResetPin = 0x22;
constexpr u8 kInsClearState = 0x99;
constexpr u8 kInsCipher = 0x9B;
constexpr std::size_t kBlock = 16;
constexpr std::size_t kMaxPiece = 0x80;

struct Apdu {
    u8 cla, ins, p1, p2;
    Bytes data; // after Lc
    u32 le = 0; // the fifth byte when no data follows
};

bool Parse(const u8* command, u32 len, Apdu& apdu)
{
    if (len < 4) return false;
    apdu = {command[0], command[1], command[2], command[3], {}, 0};
    if (len == 5) apdu.le = command[4] ? command[4] : 256;
    if (len > 5) {
        if (command[4] != len - 5) return false;
        apdu.data.assign(command + 5, command + len);
    }
    return true;
}

// SM1 and SSF33 are unpublished: the simulated card stands SM4 in for both,
// so streams under any of the three codes round-trip but only SMS4 matches
// a real card's output.
u32 LoadKey(DeviceSession& session, const Apdu& apdu)
{
    bool cbc = (apdu.p2 & 0x10) != 0;
    bool decrypt = (apdu.p2 & 0x80) != 0;
    if (apdu.data.size() != (cbc ? 2 * kBlock : kBlock)) return UK_SW_WRONG_LENGTH;
    Bytes key(apdu.data.begin(), apdu.data.begin() + kBlock);
    Bytes iv(cbc ? Bytes(apdu.data.begin() + kBlock, apdu.data.end()) : Bytes());
    auto cipher = std::make_unique<BlockCipher>();
    if (!cipher->Start(cbc ? "SM4-CBC" : "SM4-ECB", key, iv, !decrypt, false)) return UK_SW_WRONG_DATA;
    session.apduCipher = std::move(cipher);
    session.apduOutput.clear();
    return UK_OK;
}

u32 Cipher(DeviceSession& session, const Apdu& apdu, Bytes& out)
{
    if (!session.apduCipher) return UK_SW_CONDITIONS_NOT_SATISFIED;
    if (apdu.p1 == 0x01) {
        if (apdu.data.empty() || apdu.data.size() > kMaxPiece || apdu.data.size() % kBlock) return UK_SW_WRONG_LENGTH;
        return session.apduCipher->Update(apdu.data.data(), apdu.data.size(), session.apduOutput) ? UK_OK
                                                                                                  : UK_SW_WRONG_DATA;
    }
    if (apdu.p1 == 0x02) {
        if (apdu.le != session.apduOutput.size()) return UK_SW_WRONG_LENGTH;
        out.swap(session.apduOutput);
        session.apduOutput.clear();
        return UK_OK;
    }
    return UK_SW_WRONG_P1P2;
}

u32 Execute(Call& call, const Apdu& apdu, Bytes& out)
{
    if (apdu.cla != kClass) return UK_SW_CLA_NOT_SUPPORTED;
    switch (apdu.ins) {
    case kInsSerial:
        if (apdu.p1 || apdu.p2) return UK_SW_WRONG_P1P2;
        out.assign(call.token.serial.begin(), call.token.serial.end());
        if (apdu.le && out.size() > apdu.le) out.resize(apdu.le);
        return UK_OK;
    case kInsResetPin:
        if (apdu.p1 != 0 || apdu.p2 != 1) return UK_SW_WRONG_P1P2;
        if (!call.session.adminLoggedIn) return UK_SW_SECURITY_NOT_SATISFIED;
        if (apdu.data.size() < 6 || apdu.data.size() > 16) return UK_SW_WRONG_LENGTH;
        call.token.user.value.assign(apdu.data.begin(), apdu.data.end());
        call.token.user.triesLeft = call.token.user.maxTries;
        call.token.user.factoryDefault = false;
        call.dirty = true;
        return UK_OK;
    case kInsClearState:
        call.session.userLoggedIn = false;
        call.session.adminLoggedIn = false;
        return UK_OK;
    case kInsCipher:
        if (apdu.p1 == 0x00) return LoadKey(call.session, apdu);
        return Cipher(call.session, apdu, out);
    default:
        return UK_SW_INS_NOT_SUPPORTED;
    }
}

// Two length bytes, the data and the status word.
Bytes Frame(const Bytes& data, u32 status)
{
    u32 sw = status == UK_OK ? 0x9000 : status & 0xFFFF;
    const std::size_t n = data.size();
    Bytes frame(n + 4);
    frame[0] = static_cast<u8>(n >> 8);
    frame[1] = static_cast<u8>(n);
    std::copy(data.begin(), data.end(), frame.begin() + 2);
    frame[n + 2] = static_cast<u8>(sw >> 8);
    frame[n + 3] = static_cast<u8>(sw);
    return frame;
}

} // namespace

u32 UKAPI SendAPDUCmd(UK_HANDLE device, const u8* command, u32 commandLen, u8* response, u32* responseLen)
{
    if (!command || !response || !responseLen) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(7, device, [&](Call& call) -> u32 {
        u32 status = UK_OK;
        u32 shortLength = 0;
        Bytes frame;
        if (TakeShortAnswer(call.state, 7, shortLength)) {
            call.dirty = true;
            frame.assign(shortLength, 0x90);
        } else {
            Apdu apdu;
            Bytes data;
            status = Parse(command, commandLen, apdu) ? Execute(call, apdu, data) : UK_SW_WRONG_LENGTH;
            frame = Frame(data, status);
        }
        if (*responseLen < frame.size()) return UK_ERR_BUFFER_TOO_SMALL;
        if (!frame.empty()) std::memcpy(response, frame.data(), frame.size());
        *responseLen = static_cast<u32>(frame.size());
        return status;
    });
}

} // namespace slots
} // namespace tokensim
