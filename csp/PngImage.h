// PNG images from the provider's resources, decoded with GDI+.
#pragma once

#include <windows.h>

// GDI+ must be started before any image is decoded and shut down after the
// last one is gone; one session spans one dialog's life.
class CGdiPlusSession {
public:
    CGdiPlusSession();
    ~CGdiPlusSession();
    CGdiPlusSession(const CGdiPlusSession&) = delete;
    CGdiPlusSession& operator=(const CGdiPlusSession&) = delete;

private:
    ULONG_PTR m_token = 0;
};

class CPngImage {
public:
    CPngImage() = default;
    ~CPngImage();
    CPngImage(const CPngImage&) = delete;
    CPngImage& operator=(const CPngImage&) = delete;

    bool Load(HINSTANCE module, UINT id);
    // Stretches the image over the rectangle, keeping its transparency.
    void Draw(HDC dc, const RECT& rect) const;
    // A device bitmap with the image composed over a solid background, for
    // controls that take an HBITMAP; the caller deletes it.
    HBITMAP CreateBitmap(COLORREF background) const;

private:
    void* m_bitmap = nullptr; // GpBitmap
};
