#include "report/waveform.h"

#include <cassert>
#include <cstddef>

bool InputClips(const uint8_t* samples, int32_t length)
{
    for (int32_t i = 0; i < length; ++i)
        if (samples[i] == 0 || samples[i] == 255)
            return true;
    return false;
}

std::vector<WaveformColumn> WaveformColumns(int left, int top, int right, int bottom,
                                            const uint8_t* samples, int32_t length)
{
    std::vector<WaveformColumn> columns;
    const int width = right - left;
    if (width <= 0)
        return columns;
    const int height = bottom - top;
    const int half = height / 2;
    const int mid = top + half;
    const double scale = height * 0.00390625;
    // The position advances in single precision, as the strip always has; summing the step once per
    // column can overshoot the buffer's end, so the index is clamped rather than trusted.
    const float step = static_cast<float>(length) / static_cast<float>(width);
    float position = 0.0f;
    columns.reserve(width);
    for (int x = left; x < right; ++x) {
        WaveformColumn column;
        column.x = x;
        column.eraseTop = mid - half;
        column.eraseBottom = mid + half;
        column.sampleFrom = mid;
        if (length > 0) {
            int32_t index = static_cast<int32_t>(position);
            if (index > length - 1)
                index = length - 1;
            column.sampleIndex = index;
            column.sampleTo = mid + static_cast<int>((samples[index] - 128) * scale);
            // A squeezed buffer: the samples up to the next column's are this column's too.
            int32_t next = static_cast<int32_t>(position + step);
            if (next > length)
                next = length;
            column.clipped = InputClips(samples + index, next > index ? next - index : 1);
        } else {
            column.sampleIndex = -1;
            column.sampleTo = mid;
            column.clipped = false;
        }
        columns.push_back(column);
        position += step;
    }
    return columns;
}

WaveformPicture PaintWaveform(const std::vector<WaveformColumn>& columns, bool clipped)
{
    WaveformPicture picture{0, 0, 0, 0, {}};
    if (columns.empty())
        return picture;
    picture.left = columns.front().x;
    picture.top = columns.front().eraseTop;
    picture.width = static_cast<int>(columns.size());
    picture.height = columns.front().eraseBottom - columns.front().eraseTop;
    if (picture.height <= 0)
        return picture;
    picture.pixels.assign(static_cast<std::size_t>(picture.width) * picture.height, kWaveformBlack);
    for (int i = 0; i < picture.width; ++i) {
        const WaveformColumn& column = columns[i];
        const int direction = column.sampleTo > column.sampleFrom ? 1 : -1;
        for (int y = column.sampleFrom; y != column.sampleTo; y += direction) {
            assert(y >= picture.top && y < picture.top + picture.height);
            picture.pixels[static_cast<std::size_t>(y - picture.top) * picture.width + i] =
                column.clipped ? kWaveformRed : kWaveformGreen;
        }
    }
    if (clipped)
        for (int i = 0; i < picture.width; ++i) {
            picture.pixels[static_cast<std::size_t>(i)] = kWaveformRed;
            picture.pixels[static_cast<std::size_t>(picture.height - 1) * picture.width + i] = kWaveformRed;
        }
    return picture;
}
