// The waveform strip drawn with GDI into the main dialog's empty button 1003. Nothing keeps the
// picture: the next buffer, or the button's own repaint, replaces it.
// The lines are rendered into pixels first and reach the control in one transfer. Under Wine each
// GDI line call costs about a microsecond of this thread's time, and four of them per column for a
// buffer every 23 ms made recording lose data as soon as another program loaded the processors.
#include "report/waveform_win32.h"

#include <vector>

#include "report/waveform.h"
#include "resources/resource.h"

void DrawWaveform(HWND dialog, const uint8_t* samples, int32_t length, bool clipped)
{
    HWND strip = GetDlgItem(dialog, IDC_WAVEFORM);
    RECT area;
    if (!GetClientRect(strip, &area))
        return;
    const WaveformPicture picture =
        PaintWaveform(WaveformColumns(area.left, area.top, area.right, area.bottom, samples, length), clipped);
    if (picture.pixels.empty())
        return;
    HDC dc = GetDC(strip);
    if (!dc)
        return;
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = picture.width;
    format.bmiHeader.biHeight = -picture.height;  // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, picture.left, picture.top, picture.width, picture.height, 0, 0, 0, picture.height,
                      picture.pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(strip, dc);
}
