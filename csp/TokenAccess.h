// The provider's access to the token through the vendor function table:
// binding the library, finding or creating the container behind a
// provider context, and one wrapper per vendor operation, each turning a
// vendor failure into a log line and a Win32 or NTE code.
#pragma once

#include "TokenMutex.h"
#include "TokenSession.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <vector>

constexpr char kDefaultContainerName[] = "Kelto CSP Container";
constexpr unsigned kMaxContainerName = 128;
constexpr unsigned kLabelRoom = 128;

// A token-qualified container name, "\\.\<token>\<container>", names the
// token as the library lists it; an empty container part means none.
constexpr char kQualifiedPrefix[] = "\\\\.\\";
constexpr unsigned kMaxQualifiedName = sizeof kQualifiedPrefix - 1 + devicelib::UK_NAME_LEN - 1 + 1 + kMaxContainerName;

constexpr DWORD kCryptVerifyContext = 0xF0000000;
constexpr DWORD kCryptSilent = 0x40;

// Takes the token for a change made of several calls (devicelib::TokenHold):
// 0, or NTE_FAIL with the reason logged when the token cannot be had.
DWORD HoldToken(devicelib::TokenHold& hold, const char* deviceName);

extern devicelib::UK_FUNCTION_LIST* g_FuncList;
extern HMODULE g_hVendorLibrary;

// A container as listed: the token that holds it and its record.
struct ListedContainer {
    std::array<char, devicelib::UK_NAME_LEN> token;
    std::array<std::uint8_t, devicelib::UK_CONTAINER_RECORD_LEN> record;
};

// Binds the vendor library unless it is bound; called under ProviderLock
// before each acquisition, so a library that was missing is tried again.
void LoadDeviceLibrary();

// The names of all present tokens, asked first with room for room names;
// false, with the failure logged, when the library cannot list them.
bool Token_EnumTokens(std::uint32_t room, std::vector<std::array<char, devicelib::UK_NAME_LEN>>& names);
// Slot 2 Finalize, then the library unloaded: the end of LoadDeviceLibrary.
void FreeDeviceLibrary();

// The device chooser's dialog (shown when several tokens are present):
// the chosen device name into a buffer of 260 bytes, or 1223.
DWORD ChooseTokenDevice(char* deviceName);

DWORD Token_GenRandom(TokenSession* session, std::uint32_t length, std::uint8_t* buffer);
// label and serial: kLabelRoom bytes each, NUL-terminated on success.
DWORD Token_GetLabelAndSerial(const char* deviceName, char* label, char* serial);
DWORD Token_OpenContainer(const char* containerName, DWORD flags, TokenSession* session, std::uint8_t* record);
DWORD Token_CreateContainer(const char* containerName, DWORD flags, TokenSession* session, std::uint8_t* record);
// Every container of every present token, in the library's order.
DWORD Token_ListContainers(std::vector<ListedContainer>& list);
DWORD Token_Login(TokenSession* session, const std::uint8_t* pin, std::uint32_t length);
// Deletes the container of the record, read again under the hold: a
// number that names another container by now is not deleted
// (NTE_BAD_KEYSET). A vendor failure is logged, 170.
DWORD Token_DeleteContainer(TokenSession* session, const std::uint8_t* record);
DWORD Token_DeleteOtherContainers(TokenSession* session, const char* keptName, std::uint8_t algorithm);
