// The texts of the provider's windows and message boxes, in the language
// of the user interface as it was at first use.
#pragma once

#include <windows.h>

#include <cstdint>

enum MessageId : unsigned {
    MSG_OK = 0,
    MSG_CANCEL,
    MSG_TIPS,
    MSG_ERROR_TITLE,
    MSG_SELECT_DIALOG,
    MSG_SELECT_UKEY,
    MSG_UKEY_SN,
    MSG_VERIFY_PIN,
    MSG_INPUT_PIN,
    MSG_SOFT_KEYBOARD,
    MSG_INSERT_UKEY,
    MSG_DEVICE_FULL,
    MSG_WRONG_PIN, // %d: tries left
    MSG_PIN_LOCKED,
    MSG_OPERATION_FAILED,
    MSG_COUNT
};

enum MessageLanguage : std::uint32_t {
    LANGUAGE_SIMPLIFIED_CHINESE = 0,
    LANGUAGE_TRADITIONAL_CHINESE = 1,
    LANGUAGE_ENGLISH = 2
};

struct MessageTable {
    std::uint32_t language;
    const wchar_t* const* texts; // MSG_COUNT entries
};

void SelectMessageTable(MessageTable* table);
// The choice for one language identifier; SelectMessageTable asks the
// system for it.
void SelectMessageTableFor(LANGID language, MessageTable* table);

// The process-wide table, created on first use and kept for the process.
const MessageTable* GetMessageTable();
// For the module's detach: the table goes with the provider.
void FreeMessageTable();
