// What the test provider holds: read from the file that the test writes,
// named by SIGWELL_TESTCSP_CONFIG (TestCspSetup.h says how a test sets it up).
//
// One record per line, fields separated by '|', '#' starts a comment:
//   container|<provider>|<container>
//   key|<provider>|<container>|<key spec>|<certificate DER path>|<private key PEM path>|<flags>
//   keyid|<provider>|<identifier>
//   silentfail|<provider>|<entry point>   e.g. CPGetProvParam: that entry
//              point fails and leaves the last error at 0
//   unterminated|<provider>   PP_NAME and PP_CONTAINER come without their
//              terminating zero
//   shortkeyids|<provider>   parameter 80's size answer counts 17 bytes per
//              identifier and 2 more, and a buffer too short for the list
//              gets NTE_BUFFER_TOO_SMALL with the length needed
// Empty certificate or key paths give a key without a certificate or without
// a private key. Flags (comma-separated) make the provider misbehave the way
// a broken token does:
//   silent     CPGetUserKey fails and leaves the last error at 0
//   emptycert  KP_CERTIFICATE succeeds with length 0 and last error 0
//   sig65      an SM2 signature comes back 65 bytes long
//   pump       CPSignHash first dispatches the thread's waiting messages, as
//              a PIN dialog's message loop does
#pragma once

#include <string>
#include <vector>

namespace testcsp {

struct KeyEntry {
    unsigned keySpec = 0;
    std::string certificatePath;
    std::string privateKeyPath;
    bool silentNoKey = false;
    bool emptyCertificate = false;
    bool longSignature = false;
    bool pumpsMessages = false;
};

struct ContainerEntry {
    std::string name;
    std::vector<KeyEntry> keys;
};

struct ProviderConfig {
    std::vector<ContainerEntry> containers;
    std::vector<std::string> keyIds;
    std::vector<std::string> silentFailures;
    bool unterminatedText = false;
    bool shortKeyIdSize = false;

    const ContainerEntry *FindContainer(const std::string &name) const;
    bool FailsSilently(const char *pszEntryPoint) const;
};

// The records of one provider name; a missing file gives an empty provider.
ProviderConfig LoadProviderConfig(const std::string &providerName);

// Appends one line to the call log named by SIGWELL_TESTCSP_LOG, if set.
void LogCall(const std::string &line);

// Whole file contents; false when it cannot be read.
bool ReadFileBytes(const std::string &path, std::vector<unsigned char> &bytes);

} // namespace testcsp
