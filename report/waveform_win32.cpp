// The waveform strip drawn with GDI into the main dialog's empty button 1003. Nothing keeps the
// picture: the next buffer, or the button's own repaint, replaces it.
#include <windows.h>

#include <vector>

#include "app/app_win32.h"
#include "report/waveform.h"
#include "resources/resource.h"

void DrawWaveform(HWND dialog, const uint8_t* samples, int32_t length)
{
    HWND strip = GetDlgItem(dialog, IDC_WAVEFORM);
    HDC dc = GetDC(strip);
    if (!dc)
        return;
    RECT area;
    GetClientRect(strip, &area);
    const std::vector<WaveformColumn> columns =
        WaveformColumns(area.left, area.top, area.right, area.bottom, samples, length);

    HPEN green = CreatePen(PS_SOLID, 1, RGB(0, 255, 0));
    HPEN black = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HGDIOBJ previous = SelectObject(dc, green);
    for (const WaveformColumn& column : columns) {
        SelectObject(dc, black);
        MoveToEx(dc, column.x, column.eraseTop, nullptr);
        LineTo(dc, column.x, column.eraseBottom);
        SelectObject(dc, green);
        MoveToEx(dc, column.x, column.sampleFrom, nullptr);
        LineTo(dc, column.x, column.sampleTo);
    }
    SelectObject(dc, previous);
    DeleteObject(green);
    DeleteObject(black);
    ReleaseDC(strip, dc);
}
