// The token's cipher, driven by its own commands: a key load, then the
// data in pieces of 128 bytes, each sent and read back. The token holds one
// loaded key and its chain at a time, so every run reloads the key with the
// stream's own chaining value under one lock: streams of several keys and
// threads then do not disturb each other.
#include "KeyLayer.h"
#include "Logger.h"
#include "DeviceLibrary.h"
#include "tokencrypto/SecureZero.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr ULONG kPiece = 128;
constexpr ULONG kResponseRoom = 1024;
constexpr BYTE kDecryptFlag = 0x80;

// Plaintext or key bytes: cleared before their memory is given back.
// Callers reserve the room they need first, so no copy is left behind
// when the vector grows.
class WipedBytes : public std::vector<BYTE> {
public:
    using std::vector<BYTE>::vector;
    WipedBytes() = default;
    WipedBytes(const WipedBytes&) = delete;
    WipedBytes& operator=(const WipedBytes&) = delete;
    ~WipedBytes() { tokencrypto::SecureZero(data(), capacity()); }
};

std::mutex& TokenCipherLock()
{
    static std::mutex lock;
    return lock;
}

bool IsCbc(ULONG algId)
{
    return algId == SGD_SM1_CBC || algId == SGD_SSF33_CBC || algId == SGD_SMS4_CBC;
}

BYTE KeyLoadP2(ULONG algId)
{
    switch (algId) {
    case SGD_SM1_CBC:
        return 0x10;
    case SGD_SSF33_ECB:
        return 0x04;
    case SGD_SSF33_CBC:
        return 0x14;
    case SGD_SMS4_ECB:
        return 0x01;
    case SGD_SMS4_CBC:
        return 0x11;
    default:
        return 0x00;
    }
}

// Sends the key-load command: the key, and for CBC the chaining value.
ULONG SendKey(const SessionKeyHandle& key, const BYTE* iv, bool decrypt)
{
    const bool cbc = IsCbc(key.ulAlgID);
    const BYTE dataLen = cbc ? 2 * kCipherBlock : kCipherBlock;
    BYTE command[5 + 2 * kCipherBlock] = {
        0xB0, 0x9B, 0x00, static_cast<BYTE>(KeyLoadP2(key.ulAlgID) | (decrypt ? kDecryptFlag : 0)), dataLen};
    std::memcpy(command + 5, key.key, kCipherBlock);
    if (cbc) std::memcpy(command + 5 + kCipherBlock, iv, kCipherBlock);
    BYTE response[kResponseRoom];
    std::uint32_t responseLen = sizeof response;
    ULONG rc = g_FuncList->SendAPDUCmd(key.pDevCtx->pCtx, command, 5u + dataLen, response, &responseLen);
    tokencrypto::SecureZeroAll(command, response);
    if (rc == devicelib::UK_OK && (responseLen < devicelib::UK_APDU_FRAME || responseLen > sizeof response))
        rc = SAR_FAIL;
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "---->_FuncList[0]->SendAPDUCmd ERR:[%#lx]......\n", rc);
        return SAR_FAIL;
    }
    return SAR_OK;
}

// One piece in and its result out; the response frame is checked before
// its data is taken.
ULONG SendPiece(DevCtx* pDevCtx, BYTE (&command)[5 + kPiece], ULONG len, ULONG index, BYTE (&response)[kResponseRoom],
                std::vector<BYTE>& out)
{
    const bool full = len == kPiece;
    std::uint32_t responseLen = sizeof response;
    ULONG rc = g_FuncList->SendAPDUCmd(pDevCtx->pCtx, command, 5 + len, response, &responseLen);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR,
                   full ? "---->_FuncList[0]->SendAPDUCmd ERR1:[%lu][%#lx]......\n"
                        : "---->_FuncList[0]->SendAPDUCmd ERR3:[%lu][%#lx]......\n",
                   index, rc);
        return rc;
    }
    const BYTE read[5] = {0xB0, 0x9B, 0x02, 0x00, static_cast<BYTE>(len)};
    responseLen = sizeof response;
    rc = g_FuncList->SendAPDUCmd(pDevCtx->pCtx, read, sizeof read, response, &responseLen);
    if (rc == devicelib::UK_OK &&
        (responseLen < devicelib::UK_APDU_FRAME || responseLen > sizeof response ||
         responseLen - devicelib::UK_APDU_FRAME != len))
        rc = SAR_FAIL;
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR,
                   full ? "---->_FuncList[0]->SendAPDUCmd ERR2:[%lu][%#lx]......\n"
                        : "---->_FuncList[0]->SendAPDUCmd ERR4:[%lu][%#lx]......\n",
                   index, rc);
        return rc;
    }
    out.insert(out.end(), response + 2, response + 2 + len);
    return SAR_OK;
}

// The piece goes in and comes out as plaintext on one side or the other
// (a decrypted private key among them): both frames are cleared.
ULONG TransferPiece(DevCtx* pDevCtx, const BYTE* piece, ULONG len, ULONG index, std::vector<BYTE>& out)
{
    BYTE command[5 + kPiece] = {0xB0, 0x9B, 0x01, 0x00, static_cast<BYTE>(len)};
    std::memcpy(command + 5, piece, len);
    BYTE response[kResponseRoom];
    ULONG rc = SendPiece(pDevCtx, command, len, index, response, out);
    tokencrypto::SecureZeroAll(command, response);
    return rc;
}

ULONG Transfer(DevCtx* pDevCtx, const std::vector<BYTE>& data, std::vector<BYTE>& out)
{
    ULONG index = 0;
    for (std::size_t at = 0; at < data.size(); at += kPiece, ++index) {
        const ULONG len = static_cast<ULONG>(std::min<std::size_t>(kPiece, data.size() - at));
        if (ULONG rc = TransferPiece(pDevCtx, data.data() + at, len, index, out)) return rc;
    }
    return SAR_OK;
}

ULONG Start(SessionKeyHandle* pKey, const BLOCKCIPHERPARAM& param, bool decrypt)
{
    if (!pKey) return DF_NULL("hKey", SAR_INVALIDHANDLEERR);
    if (ULONG rc = DF_CHECK_DEVICE(pKey->pDevCtx)) return rc;
    LogMessage(LOG_DEBUG, "FeedBitLen[%lu], IVLen[%lu], PaddingType[%lu]", param.FeedBitLen, param.IVLen,
               param.PaddingType);
    if (param.PaddingType > 1) {
        LogMessage(LOG_ERROR, "PaddingType err[%lu]", param.PaddingType);
        return SAR_INVALIDPARAMERR;
    }
    // The chaining value is one block; CBC takes no other length.
    if (IsCbc(pKey->ulAlgID) && param.IVLen != kCipherBlock) {
        LogMessage(LOG_ERROR, "IVLen err[%lu]", param.IVLen);
        return SAR_INVALIDPARAMERR;
    }
    LogMessage(LOG_DEBUG, "keyBuf[%d]", 32);
    {
        std::lock_guard<std::mutex> guard(TokenCipherLock());
        if (ULONG rc = SendKey(*pKey, param.IV, decrypt)) return rc;
    }
    CipherStream& stream = pKey->stream;
    tokencrypto::SecureZero(&stream, sizeof stream);
    stream.mode = decrypt ? CipherStream::Decrypting : CipherStream::Encrypting;
    std::memcpy(stream.chain, param.IV, kCipherBlock);
    pKey->ulPadding = param.PaddingType;
    return SAR_OK;
}

// Whole blocks through the token with the key reloaded at the stream's
// chaining value; out receives as many bytes.
ULONG Run(const SessionKeyHandle& key, const std::vector<BYTE>& blocks, std::vector<BYTE>& out)
{
    out.clear();
    if (blocks.empty()) return SAR_OK;
    out.reserve(blocks.size());
    std::lock_guard<std::mutex> guard(TokenCipherLock());
    if (ULONG rc = SendKey(key, key.stream.chain, key.stream.mode == CipherStream::Decrypting)) return rc;
    return Transfer(key.pDevCtx, blocks, out);
}

// Padding of 1 to 16 bytes, each holding the count; checked without
// branching on the plaintext. 0 when the block is not padded so.
ULONG PaddingLength(const BYTE* lastBlock)
{
    const unsigned pad = lastBlock[kCipherBlock - 1];
    unsigned bad = static_cast<unsigned>(pad == 0) | static_cast<unsigned>(pad > kCipherBlock);
    for (unsigned i = 0; i < kCipherBlock; ++i) {
        const unsigned inPad = static_cast<unsigned>(kCipherBlock - i <= pad);
        bad |= inPad & static_cast<unsigned>(lastBlock[i] != pad);
    }
    return bad ? 0 : pad;
}

// One call on a stream: the held bytes and the new data, then, for a
// Final, the padding. Nothing in the handle changes until the output is
// written.
ULONG Step(SessionKeyHandle* pKey, CipherStream::Mode mode, const BYTE* pbData, ULONG ulDataLen, bool final,
           BYTE* pbOut, ULONG* pulOutLen)
{
    if (!pKey) return DF_NULL("hKey", SAR_INVALIDHANDLEERR);
    if (!pbData && ulDataLen) return DF_NULL("pbData", SAR_INVALIDPARAMERR);
    if (!pulOutLen) return DF_NULL("pulOutLen", SAR_INVALIDPARAMERR);
    if (ULONG rc = DF_CHECK_DEVICE(pKey->pDevCtx)) return rc;
    CipherStream& stream = pKey->stream;
    if (stream.mode != mode) {
        LogMessage(LOG_ERROR, "cipher not started[%lu]", static_cast<ULONG>(stream.mode));
        return SAR_FAIL;
    }
    if (ulDataLen > kStreamRoom) {
        LogMessage(LOG_ERROR, "Data len err[%lu]", ulDataLen);
        return SAR_INDATALENERR;
    }
    const bool decrypt = mode == CipherStream::Decrypting;
    const bool padded = pKey->ulPadding != 0;
    WipedBytes input;
    input.reserve(stream.heldLen + ulDataLen + kCipherBlock);
    input.assign(stream.held, stream.held + stream.heldLen);
    if (ulDataLen) input.insert(input.end(), pbData, pbData + ulDataLen);
    const ULONG total = static_cast<ULONG>(input.size());
    const ULONG tail = total % kCipherBlock;
    ULONG keep = tail;
    if (final && !decrypt && padded) {
        input.insert(input.end(), kCipherBlock - tail, static_cast<BYTE>(kCipherBlock - tail));
        keep = 0;
    } else if (final && (tail || (decrypt && padded && total == 0))) {
        LogMessage(LOG_ERROR, "Data len err[%lu]", total);
        return SAR_INDATALENERR;
    } else if (!final && decrypt && padded && !tail && total) {
        keep = kCipherBlock; // the last block may be the padding
    }
    WipedBytes blocks(input.begin(), input.end() - keep);
    const bool strip = final && decrypt && padded;
    ULONG outLen = static_cast<ULONG>(blocks.size());
    if (!strip && (!pbOut || *pulOutLen < outLen)) {
        ULONG room = *pulOutLen;
        *pulOutLen = outLen;
        return pbOut && room < outLen ? SAR_BUFFER_TOO_SMALL : SAR_OK;
    }
    WipedBytes out;
    if (ULONG rc = Run(*pKey, blocks, out)) return rc;
    if (strip) {
        const ULONG pad = PaddingLength(out.data() + out.size() - kCipherBlock);
        if (!pad) {
            LogMessage(LOG_ERROR, "padding err");
            return SAR_FAIL;
        }
        outLen -= pad;
        if (!pbOut || *pulOutLen < outLen) {
            *pulOutLen = outLen;
            return pbOut ? SAR_BUFFER_TOO_SMALL : SAR_OK;
        }
    }
    if (outLen) std::memcpy(pbOut, out.data(), outLen);
    *pulOutLen = outLen;
    if (!blocks.empty() && IsCbc(pKey->ulAlgID)) {
        const std::vector<BYTE>& cipher = decrypt ? blocks : out;
        std::memcpy(stream.chain, cipher.data() + cipher.size() - kCipherBlock, kCipherBlock);
    }
    std::memcpy(stream.held, input.data() + input.size() - keep, keep);
    stream.heldLen = keep;
    LogMessage(LOG_DEBUG, "pbEncryptedData[%lu]", outLen);
    return SAR_OK;
}

} // namespace

ULONG DF_EncryptInit(SessionKeyHandle* pKey, const BLOCKCIPHERPARAM& param)
{
    return Start(pKey, param, false);
}

ULONG DF_DecryptInit(SessionKeyHandle* pKey, const BLOCKCIPHERPARAM& param)
{
    return Start(pKey, param, true);
}

ULONG DF_Encrypt(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen)
{
    LogMessage(LOG_DEBUG, "%s start...", "DF_Encrypt");
    return Step(pKey, CipherStream::Encrypting, pbData, ulDataLen, true, pbOut, pulOutLen);
}

ULONG DF_EncryptUpdate(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen)
{
    return Step(pKey, CipherStream::Encrypting, pbData, ulDataLen, false, pbOut, pulOutLen);
}

ULONG DF_EncryptFinal(SessionKeyHandle* pKey, BYTE* pbOut, ULONG* pulOutLen)
{
    return Step(pKey, CipherStream::Encrypting, nullptr, 0, true, pbOut, pulOutLen);
}

ULONG DF_Decrypt(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen)
{
    LogMessage(LOG_DEBUG, "%s start...", "DF_Decrypt");
    return Step(pKey, CipherStream::Decrypting, pbData, ulDataLen, true, pbOut, pulOutLen);
}

ULONG DF_DecryptUpdate(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen)
{
    return Step(pKey, CipherStream::Decrypting, pbData, ulDataLen, false, pbOut, pulOutLen);
}

ULONG DF_DecryptFinal(SessionKeyHandle* pKey, BYTE* pbOut, ULONG* pulOutLen)
{
    return Step(pKey, CipherStream::Decrypting, nullptr, 0, true, pbOut, pulOutLen);
}
