// The full-screen shade that keeps the PIN prompt in front, asks for the
// PIN, verifies it on the token and reports wrong and blocked PINs.
#pragma once

#include "TokenSession.h"

#include <windows.h>

#include <cstdint>

constexpr UINT WM_SHOW_PIN_DIALOG = 0x511;
constexpr INT_PTR kShadeVerified = 1;
constexpr INT_PTR kShadeCancelled = 2;
constexpr DWORD kPinShadeFailed = 1330;

class CClockFullScreen {
public:
    explicit CClockFullScreen(TokenSession* session) : m_pSession(session) { }
    ~CClockFullScreen();
    CClockFullScreen(const CClockFullScreen&) = delete;
    CClockFullScreen& operator=(const CClockFullScreen&) = delete;

    // 1: the PIN is verified and stored; 2: cancelled; else the token's
    // refusal (blocked, no tries left, another failure); -1: no window.
    INT_PTR DoModal(HWND owner);
    const std::uint8_t* Pin() const { return m_pin; }
    std::uint32_t PinLength() const { return m_pinLength; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI PromptDelayThread(LPVOID window);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(WORD id);
    void PinPromptLoop();
    // Tries left after a wrong PIN; keeps the previous count when the
    // token cannot tell.
    std::uint32_t ReadTriesLeft(std::uint32_t previous);
    void ShowMessage(const wchar_t* text);
    void Close(INT_PTR result);

    HWND m_hWnd = nullptr;
    HBRUSH m_hBlackBrush = nullptr;
    HMODULE m_hShieldHotKey = nullptr;
    bool m_closing = false;
    std::uint8_t m_pin[kTokenPinRoom] = {};
    std::uint32_t m_pinLength = 0;
    TokenSession* m_pSession;
};

// Asks for the PIN until the token accepts it: 0 with the verified PIN in
// pin (kTokenPinRoom bytes) and *pinLength, already stored in the session
// and the PIN cache; the token's refusal when it ended the prompt (blocked,
// no tries left, another failure); 1330 when the user cancelled or no
// window came up. Every refusal's message has been shown.
DWORD ShowPinShade(HWND owner, TokenSession* session, std::uint8_t* pin, std::uint32_t* pinLength);
