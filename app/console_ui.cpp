#include "app/console_ui.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "report/ui.h"

namespace {

std::string statusLine;
std::string headerLine;
std::vector<std::string> catalogue;
bool progressShown = false;

// Unicode code points of Windows-1251 bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
const unsigned short kHighHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457,
};

void AppendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The panes receive a line and then "\r\n" as separate insertions; a line is printed when its end
// arrives.
void Insert(std::string& pending, const char* text, const char* prefix)
{
    pending += text;
    if (pending.find("\r\n") != std::string::npos)
        ClearProgress();
    for (size_t end; (end = pending.find("\r\n")) != std::string::npos; pending.erase(0, end + 2))
        std::printf("%s%s\n", prefix, Cp1251ToUtf8(pending.substr(0, end)).c_str());
    std::fflush(stdout);
}

}  // namespace

std::string Cp1251ToUtf8(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0xC0)
            AppendUtf8(out, kHighHalf[c - 0x80]);
        else
            AppendUtf8(out, 0x0410 + (c - 0xC0));
    }
    return out;
}

void ShowProgress(const char* text)
{
    std::fprintf(stderr, "\r%s\033[K", text);
    std::fflush(stderr);
    progressShown = true;
}

void ClearProgress()
{
    if (!progressShown)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    progressShown = false;
}

void PrintCatalogue()
{
    std::printf("Catalogue:\n");
    for (const std::string& line : catalogue)
        std::printf("  %s\n", Cp1251ToUtf8(line).c_str());
    std::fflush(stdout);
}

void UiStatusInsert(const char* text)
{
    Insert(statusLine, text, "");
}

void UiHeaderInsert(const char* text)
{
    Insert(headerLine, text, "    | ");
}

void UiCatalogueReset()
{
    catalogue.clear();
}

void UiCatalogueAppend(const char* line)
{
    catalogue.push_back(line);
}

void UiCatalogueSelectLast() {}

void UiRunEnded() {}

void UiInfoBox(const char* text)
{
    std::fprintf(stderr, "%s\n", Cp1251ToUtf8(text).c_str());
}

void UiFatalBox(const char* text)
{
    std::fprintf(stderr, "FATAL ERROR: %s\n", Cp1251ToUtf8(text).c_str());
}

void UiLocalTime(int* hour, int* minute, int* second)
{
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    *hour = local ? local->tm_hour : 0;
    *minute = local ? local->tm_min : 0;
    *second = local ? local->tm_sec : 0;
}
