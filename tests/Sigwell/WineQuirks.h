// What differs under Wine, one named predicate per quirk.
#pragma once

#include <windows.h>

inline bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Wine picks resources by the process's UI language (taken from LANG) and
// ignores the thread's; Windows honours SetThreadUILanguage.
inline bool ThreadUILanguageIgnoredByResources()
{
    return RunningUnderWine();
}

// Wine's CertNameToStrW quotes a value holding a comma even when asked not
// to quote (CERT_NAME_STR_NO_QUOTING_FLAG); Windows leaves it bare.
inline bool NameQuotedDespiteNoQuotingFlag()
{
    return RunningUnderWine();
}

// Wine's ToUnicodeEx takes AltGr only from the X server's Mode_switch state,
// which layouts with ISO_Level3_Shift never set, not from a key state with
// Ctrl and Alt down: keys sent with Ctrl and Alt type no AltGr character.
// Windows types them.
inline bool AltGrNotTranslatedFromKeyState()
{
    return RunningUnderWine();
}
