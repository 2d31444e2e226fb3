// A certificate written to the token under a container key: its DER
// length, the registration in the user's "My" store, and the message to
// the token maker's client program.
#pragma once

#include <windows.h>

#include <cstdint>

struct KeyObject;
struct ProviderContext;

constexpr wchar_t kClientWindowClass[] = L"LORVIN_KeltoClientClass";
constexpr WPARAM kClientCertificateCommand = 1539;

// The length of a DER SEQUENCE with its header, read from the header
// alone; 0 when it is no definite-length SEQUENCE of at most maxLength.
std::uint32_t DerCertificateLength(const std::uint8_t* der, std::uint32_t maxLength);

DWORD WriteCertificateToToken(ProviderContext* context, KeyObject* key, const std::uint8_t* certificate);
BOOL RegisterCertInMyStore(const char* containerName, DWORD keySpec, const std::uint8_t* certificate,
                           std::uint32_t length);
void NotifyClientWindow();
