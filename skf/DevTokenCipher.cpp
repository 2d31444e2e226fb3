// The token's cipher, driven by its own commands: a key load, then the
// data in pieces of 128 bytes, each sent and read back. Results pass to
// the Update and Final exports through four process-wide buffers.
#include "KeyLayer.h"
#include "Logger.h"
#include "VendorBinding.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr ULONG kBlock = 16;
constexpr ULONG kPiece = 128;
constexpr ULONG kResponseRoom = 1024;
constexpr BYTE kDecryptFlag = 0x80;

struct StreamBuffer {
    BYTE data[kStreamRoom];
    ULONG len;
};

StreamBuffer g_streams[4];

StreamBuffer& Buffer(Stream which) { return g_streams[static_cast<int>(which)]; }

bool IsCbc(ULONG algId) { return algId == SGD_SM1_CBC || algId == SGD_SSF33_CBC || algId == SGD_SMS4_CBC; }

BYTE KeyLoadP2(ULONG algId)
{
    switch (algId) {
    case SGD_SM1_CBC: return 0x10;
    case SGD_SSF33_ECB: return 0x04;
    case SGD_SSF33_CBC: return 0x14;
    case SGD_SMS4_ECB: return 0x01;
    case SGD_SMS4_CBC: return 0x11;
    default: return 0x00;
    }
}

ULONG LoadKey(SessionKeyHandle* pKey, const BLOCKCIPHERPARAM& param, bool decrypt)
{
    if (!pKey) return DF_NULL("hKey", SAR_INVALIDHANDLEERR);
    if (ULONG rc = DF_CHECK_DEVICE(pKey->pDevCtx)) return rc;
    LogMessage(LOG_DEBUG, "FeedBitLen[%lu], IVLen[%lu], PaddingType[%lu]", param.FeedBitLen, param.IVLen,
               param.PaddingType);
    pKey->ulPadding = param.PaddingType;
    const bool cbc = IsCbc(pKey->ulAlgID);
    const BYTE dataLen = cbc ? 2 * kBlock : kBlock;
    BYTE command[5 + 2 * kBlock] = {0xB0, 0x9B, 0x00,
                                    static_cast<BYTE>(KeyLoadP2(pKey->ulAlgID) | (decrypt ? kDecryptFlag : 0)), dataLen};
    std::memcpy(command + 5, pKey->key, kBlock);
    if (cbc) std::memcpy(command + 5 + kBlock, param.IV, kBlock);
    LogMessage(LOG_DEBUG, "keyBuf[%d]", 32);
    BYTE response[kResponseRoom];
    std::uint32_t responseLen = sizeof response;
    ULONG rc = g_FuncList->SendAPDUCmd(pKey->pDevCtx->pCtx, command, 5u + dataLen, response, &responseLen);
    std::memset(command, 0, sizeof command);
    if (rc != vendor::UK_OK) {
        LogMessage(LOG_ERROR, "---->_FuncList[0]->SendAPDUCmd ERR:[%#lx]......\n", rc);
        return SAR_FAIL;
    }
    return SAR_OK;
}

// One piece in and its result out; the response frame is checked before
// its data is taken.
ULONG TransferPiece(DevCtx* pDevCtx, const BYTE* piece, ULONG len, ULONG index, std::vector<BYTE>& out)
{
    const bool full = len == kPiece;
    BYTE command[5 + kPiece] = {0xB0, 0x9B, 0x01, 0x00, static_cast<BYTE>(len)};
    std::memcpy(command + 5, piece, len);
    BYTE response[kResponseRoom];
    std::uint32_t responseLen = sizeof response;
    ULONG rc = g_FuncList->SendAPDUCmd(pDevCtx->pCtx, command, 5 + len, response, &responseLen);
    if (rc != vendor::UK_OK) {
        LogMessage(LOG_ERROR, full ? "---->_FuncList[0]->SendAPDUCmd ERR1:[%lu][%#lx]......\n"
                                   : "---->_FuncList[0]->SendAPDUCmd ERR3:[%lu][%#lx]......\n",
                   index, rc);
        return rc;
    }
    const BYTE read[5] = {0xB0, 0x9B, 0x02, 0x00, static_cast<BYTE>(len)};
    responseLen = sizeof response;
    rc = g_FuncList->SendAPDUCmd(pDevCtx->pCtx, read, sizeof read, response, &responseLen);
    if (rc == vendor::UK_OK && (responseLen < vendor::UK_APDU_FRAME || responseLen > sizeof response ||
                                responseLen - vendor::UK_APDU_FRAME != len))
        rc = SAR_FAIL;
    if (rc != vendor::UK_OK) {
        LogMessage(LOG_ERROR, full ? "---->_FuncList[0]->SendAPDUCmd ERR2:[%lu][%#lx]......\n"
                                   : "---->_FuncList[0]->SendAPDUCmd ERR4:[%lu][%#lx]......\n",
                   index, rc);
        return rc;
    }
    out.insert(out.end(), response + 2, response + 2 + len);
    return SAR_OK;
}

// Full pieces go to fullOut, the last short one to lastOut.
ULONG Transfer(DevCtx* pDevCtx, const std::vector<BYTE>& data, std::vector<BYTE>& fullOut, std::vector<BYTE>& lastOut)
{
    ULONG index = 0;
    for (std::size_t at = 0; at < data.size(); at += kPiece, ++index) {
        const ULONG len = static_cast<ULONG>(std::min<std::size_t>(kPiece, data.size() - at));
        std::vector<BYTE>& out = len == kPiece ? fullOut : lastOut;
        if (ULONG rc = TransferPiece(pDevCtx, data.data() + at, len, index, out)) return rc;
    }
    return SAR_OK;
}

void Keep(Stream which, const BYTE* data, std::size_t len)
{
    StreamBuffer& buffer = Buffer(which);
    std::memcpy(buffer.data, data, len);
    buffer.len = static_cast<ULONG>(len);
}

ULONG CheckStreamArgs(SessionKeyHandle* pKey, const BYTE* pbData, ULONG* pulOutLen)
{
    if (!pKey) return DF_NULL("hKey", SAR_INVALIDHANDLEERR);
    if (!pbData) return DF_NULL("pbData", SAR_INVALIDPARAMERR);
    if (!pulOutLen) return DF_NULL("pulOutLen", SAR_INVALIDPARAMERR);
    return DF_CHECK_DEVICE(pKey->pDevCtx);
}

}  // namespace

ULONG DF_EncryptInit(SessionKeyHandle* pKey, const BLOCKCIPHERPARAM& param) { return LoadKey(pKey, param, false); }

ULONG DF_DecryptInit(SessionKeyHandle* pKey, const BLOCKCIPHERPARAM& param) { return LoadKey(pKey, param, true); }

// Padding applies when asked for and to any input that does not fill its
// last block.
ULONG DF_Encrypt(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen)
{
    LogMessage(LOG_DEBUG, "%s start...", "DF_Encrypt");
    if (ULONG rc = CheckStreamArgs(pKey, pbData, pulOutLen)) return rc;
    const ULONG pad = (pKey->ulPadding || ulDataLen % kBlock) ? kBlock - ulDataLen % kBlock : 0;
    if (ulDataLen > kStreamRoom - pad) {
        LogMessage(LOG_ERROR, "Data len err[%lu]", ulDataLen);
        return SAR_INDATALENERR;
    }
    std::vector<BYTE> work(pbData, pbData + ulDataLen);
    work.insert(work.end(), pad, static_cast<BYTE>(pad));
    const ULONG total = static_cast<ULONG>(work.size());
    if (!pbOut) {
        *pulOutLen = total;
        return SAR_OK;
    }
    if (*pulOutLen < total) {
        *pulOutLen = total;
        return SAR_BUFFER_TOO_SMALL;
    }
    Buffer(Stream::EncryptUpdate).len = Buffer(Stream::EncryptFinal).len = 0;
    std::vector<BYTE> full, last;
    if (ULONG rc = Transfer(pKey->pDevCtx, work, full, last)) return rc;
    Keep(Stream::EncryptUpdate, full.data(), full.size());
    Keep(Stream::EncryptFinal, last.data(), last.size());
    std::memcpy(pbOut, full.data(), full.size());
    std::memcpy(pbOut + full.size(), last.data(), last.size());
    *pulOutLen = total;
    LogMessage(LOG_DEBUG, "pbEncryptedData[%lu]", total);
    return SAR_OK;
}

// With padding, as many trailing bytes go as the last one says.
ULONG DF_Decrypt(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen)
{
    LogMessage(LOG_DEBUG, "%s start...", "DF_Decrypt");
    if (ULONG rc = CheckStreamArgs(pKey, pbData, pulOutLen)) return rc;
    const ULONG fill = ulDataLen % kBlock ? kBlock - ulDataLen % kBlock : 0;
    if (ulDataLen > kStreamRoom - fill) {
        LogMessage(LOG_ERROR, "Data len err[%lu]", ulDataLen);
        return SAR_INDATALENERR;
    }
    if (!pbOut) {
        *pulOutLen = ulDataLen;
        return SAR_OK;
    }
    std::vector<BYTE> work(pbData, pbData + ulDataLen);
    work.insert(work.end(), fill, static_cast<BYTE>(fill));
    Buffer(Stream::DecryptUpdate).len = Buffer(Stream::DecryptFinal).len = 0;
    std::vector<BYTE> plain;
    if (ULONG rc = Transfer(pKey->pDevCtx, work, plain, plain)) return rc;
    if (pKey->ulPadding && !plain.empty()) {
        const ULONG drop = plain.back();
        if (drop > plain.size()) {
            LogMessage(LOG_ERROR, "padding err[%lu]", drop);
            return SAR_FAIL;
        }
        plain.resize(plain.size() - drop);
    }
    const ULONG len = static_cast<ULONG>(plain.size());
    if (*pulOutLen < len) {
        *pulOutLen = len;
        return SAR_BUFFER_TOO_SMALL;
    }
    Keep(Stream::DecryptUpdate, plain.data(), len);
    std::memcpy(pbOut, plain.data(), len);
    *pulOutLen = len;
    LogMessage(LOG_DEBUG, "pbEncryptedData[%lu]", len);
    std::fill(plain.begin(), plain.end(), 0);
    return SAR_OK;
}

ULONG HandOutStream(Stream which, BYTE* pbOut, ULONG* pulOutLen)
{
    if (!pulOutLen) return DF_NULL("pulOutLen", SAR_INVALIDPARAMERR);
    const StreamBuffer& buffer = Buffer(which);
    if (!pbOut) {
        *pulOutLen = buffer.len;
        return SAR_OK;
    }
    if (*pulOutLen < buffer.len) {
        *pulOutLen = buffer.len;
        return SAR_BUFFER_TOO_SMALL;
    }
    std::memcpy(pbOut, buffer.data, buffer.len);
    *pulOutLen = buffer.len;
    return SAR_OK;
}
