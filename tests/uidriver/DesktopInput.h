// What a UI driver program does as a person at the desktop would: find a
// window of the program under test, press keys, click, and save the
// screen.
#pragma once

#include <windows.h>

#include <string>

// 0: windows of any process.
void SetTargetProcess(DWORD processId);
bool IsOfTargetProcess(HWND window);

// A visible dialog (class "#32770") of the target process.
bool IsDialog(HWND window);

HWND FindTopLevel(bool (*match)(HWND));
HWND WaitFor(bool (*match)(HWND), DWORD timeoutMs);

void SendKey(WORD vk, bool up);
void PressKey(WORD vk);
void ClickAt(int x, int y, bool twice = false);
// Right of the centre: a button's image may lie over its left side.
void ClickCentre(HWND control);
bool BringForward(HWND window);
// Waits until the window's thread is back in its message loop and has drawn
// what it owes, as a person looks at a window before using it.
bool WaitDrawn(HWND window);
// Waits until the window is destroyed or hidden.
bool WaitEnded(HWND window, DWORD timeoutMs);
// Clicks a button of the window until the window ends, up to five times,
// waiting waitMs after each click: a click that lands while the window is
// still coming forward is lost, as it would be for a person, who then
// clicks again.
bool ClickUntilEnded(HWND window, int buttonId, DWORD waitMs);

// The whole screen, or the area of one window, as a 24-bit BMP file.
bool SaveScreen(const std::wstring& path);
bool SaveWindow(HWND window, const std::wstring& path);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);
