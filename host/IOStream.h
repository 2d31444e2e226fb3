// Native-messaging frames on the standard descriptors: a 32-bit
// little-endian length followed by that many bytes of UTF-8 JSON.
#pragma once

// Largest answer sent as a frame; a longer one is replaced by FF FF FF FF.
const unsigned int MAX_OUTPUT_MESSAGE_SIZE = 0x100000;

// Switches standard input, then standard output, to binary mode: 0 or -1.
int SetTranslationMode();

// Reads one frame from nFd. On success *ppszMsg is a new NUL-terminated
// buffer (delete[]) and *pnLength its length; an end frame hands out no
// buffer and length 0. Either out-pointer may be null.
int ReadFromNativeMessaging(char **ppszMsg, int nFd, unsigned int *pnLength);

// Writes pszMsg as one frame to nFd: 0, or -1 on failure or when the text is
// longer than MAX_OUTPUT_MESSAGE_SIZE (the marker FF FF FF FF is written).
int WriteToNativeMessaging(const char *pszMsg, int nFd);
