#include "IOStream.h"

#include "TraceHelper.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <new>

namespace {

const unsigned int END_OF_CONVERSATION = 0xFFFFFFFF;

unsigned int ReadLittleEndian32(const unsigned char *pb)
{
    return pb[0] | (pb[1] << 8) | (pb[2] << 16) | (static_cast<unsigned int>(pb[3]) << 24);
}

void WriteLittleEndian32(unsigned char *pb, unsigned int n)
{
    pb[0] = static_cast<unsigned char>(n);
    pb[1] = static_cast<unsigned char>(n >> 8);
    pb[2] = static_cast<unsigned char>(n >> 16);
    pb[3] = static_cast<unsigned char>(n >> 24);
}

// Reads exactly cb bytes, joining the pieces a pipe delivers. Returns the
// count read before end of input, or -1 on a read error.
int ReadFully(int nFd, unsigned char *pb, unsigned int cb)
{
    unsigned int cbDone = 0;
    while (cbDone < cb) {
        unsigned int cbWant = cb - cbDone;
        if (cbWant > 0x40000000) cbWant = 0x40000000;
        int n = _read(nFd, pb + cbDone, cbWant);
        if (n < 0) return -1;
        if (n == 0) break;
        cbDone += static_cast<unsigned int>(n);
    }
    return static_cast<int>(cbDone);
}

void HandOut(char **ppszMsg, char *pszMsg, unsigned int *pnLength, unsigned int nLength)
{
    if (ppszMsg != nullptr)
        *ppszMsg = pszMsg;
    else
        delete[] pszMsg;
    if (pnLength != nullptr) *pnLength = nLength;
}

int WriteEndMarker(int nFd)
{
    unsigned char *pbyWriteBuf = new (std::nothrow) unsigned char[4];
    if (pbyWriteBuf == nullptr) {
        TRACE_A_FAILED("New memory", -1, "!pbyWriteBuf");
        return -1;
    }
    WriteLittleEndian32(pbyWriteBuf, END_OF_CONVERSATION);
    int nWriteSize = _write(nFd, pbyWriteBuf, 4);
    if (nWriteSize == 4)
        TRACE_A_OK("write");
    else
        TRACE_A_FAILED("write", -1, "nWriteSize != nWriteBufSize");
    delete[] pbyWriteBuf;
    return -1;
}

} // namespace

int SetTranslationMode()
{
    TRACE_FUNCTION(L"SetTranslationMode");
    const int nMode = _O_BINARY;
    TRACE_A_OK("Check Parameters(nMode)");
    if (_setmode(_fileno(stdin), nMode) == -1) {
        TRACE_A_FAILED("_setmode(stdin)", -1, "-1 == nResult");
        return -1;
    }
    TRACE_A_OK("_setmode(stdin)");
    if (_setmode(_fileno(stdout), nMode) == -1) {
        TRACE_A_FAILED("_setmode(stdout)", -1, "-1 == nResult");
        return -1;
    }
    TRACE_A_OK("_setmode(stdout)");
    return 0;
}

int ReadFromNativeMessaging(char **ppszMsg, int nFd, unsigned int *pnLength)
{
    TRACE_FUNCTION(L"ReadFromNativeMessaging");
    HandOut(ppszMsg, nullptr, pnLength, 0);

    // A pipe may deliver the length word in pieces. End of input before
    // its first byte ends the conversation; inside it, it is a failure.
    unsigned char abyLength[4] = {};
    int nGot = ReadFully(nFd, abyLength, sizeof(abyLength));
    if (nGot == 0) {
        TRACE_A_OK("End of input");
        return 0;
    }
    if (nGot < 0) {
        int nError = errno ? errno : -1;
        TRACE_A_FAILED("_read(length)", nError, "-1 == nReadSize");
        return nError;
    }
    if (nGot != static_cast<int>(sizeof(abyLength))) {
        TRACE_A_FAILED("_read(length)", -1, "nReadSize != 4");
        return -1;
    }

    unsigned int nLength = ReadLittleEndian32(abyLength);
    if (nLength == 0 || nLength == END_OF_CONVERSATION) {
        TRACE_A_OK("End of conversation");
        return 0;
    }

    char *pszInputMsg = new (std::nothrow) char[static_cast<size_t>(nLength) + 1];
    if (!pszInputMsg) {
        TRACE_A_FAILED("New memory", -1, "!pszInputMsg");
        return -1;
    }
    memset(pszInputMsg, 0, static_cast<size_t>(nLength) + 1);

    nGot = ReadFully(nFd, reinterpret_cast<unsigned char *>(pszInputMsg), nLength);
    if (nGot < 0) {
        int nErrno = errno ? errno : -1;
        delete[] pszInputMsg;
        TRACE_A_FAILED("_read(body)", nErrno, "-1 == nReadSize");
        return nErrno;
    }
    if (static_cast<unsigned int>(nGot) != nLength) {
        // End of input inside a body: the browser went away mid-message.
        delete[] pszInputMsg;
        TRACE_A_FAILED("_read(body)", -1, "nReadSize != nLength");
        return -1;
    }
    TRACE_A_OK("_read(body)");
    HandOut(ppszMsg, pszInputMsg, pnLength, nLength);
    return 0;
}

int WriteToNativeMessaging(const char *pszMsg, int nFd)
{
    TRACE_FUNCTION(L"WriteToNativeMessaging");
    size_t cchMsg = pszMsg ? strlen(pszMsg) : 0;
    if (cchMsg > MAX_OUTPUT_MESSAGE_SIZE) return WriteEndMarker(nFd);

    unsigned int nWriteBufSize = static_cast<unsigned int>(cchMsg) + 4;
    unsigned char *pbyWriteBuf = new (std::nothrow) unsigned char[nWriteBufSize];
    if (pbyWriteBuf == nullptr) {
        TRACE_A_FAILED("New memory", -1, "!pbyWriteBuf");
        return -1;
    }
    memset(pbyWriteBuf, 0, nWriteBufSize);
    WriteLittleEndian32(pbyWriteBuf, static_cast<unsigned int>(cchMsg));
    if (cchMsg != 0) memcpy(pbyWriteBuf + 4, pszMsg, cchMsg);

    int nWriteSize = _write(nFd, pbyWriteBuf, nWriteBufSize);
    delete[] pbyWriteBuf;
    if (nWriteSize != static_cast<int>(nWriteBufSize)) {
        TRACE_A_FAILED("write", -1, "nWriteSize != nWriteBufSize");
        return -1;
    }
    TRACE_A_OK("write");
    return 0;
}
