#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <string>

// The geometry-progress scanning rules taken word for word, 1-based
// positions, every search from the current position to the end of the text.
// Slow on long texts, easy to check by eye: the scanner's differential test
// and its fuzz target hold the real scanner against it.
class LiteralScanner
{
public:
    QByteArrayList scan(const std::string &text)
    {
        QByteArrayList entries;
        std::size_t p = 1;
        for (;;) {
            std::size_t hit = 0;
            if (std::size_t a = find(text, "PARAMETERS CONTROLLING GEOMETRY SEARCH ARE", p)) {
                logLine = "*** BEGINNING GEOMETRY SEARCH ***";
                hit = a;
            } else {
                if (std::size_t a = find(text, "  NSERCH=", p)) {
                    stepPrefix = "STEP " + copy(text, long(a) + 8, 32);
                    p = a + 10;
                }
                if (std::size_t a = find(text, "MAXIMUM GRADIENT =", p)) {
                    logLine = stepPrefix + copy(text, long(a) - 4, 61);
                    hit = a;
                } else if (std::size_t a = find(text, "EQUILIBRIUM GEOMETRY LOCATED", p)) {
                    logLine = "*** EQUILIBRIUM GEOMETRY LOCATED ***";
                    hit = a;
                } else {
                    return entries;
                }
            }
            entries << logLine;
            p = hit + 30;
        }
    }

    QByteArray logLine;
    QByteArray stepPrefix;

private:
    // 1-based position of the first occurrence at or after p, 0 for none.
    static std::size_t find(const std::string &text, const char *marker, std::size_t p)
    {
        if (p > text.size())
            return 0;
        const std::size_t at = text.find(marker, p - 1);
        return at == std::string::npos ? 0 : at + 1;
    }
    static QByteArray copy(const std::string &text, long start, long count)
    {
        if (start < 1)
            start = 1;
        if (start > long(text.size()))
            return QByteArray();
        return QByteArray::fromStdString(text.substr(std::size_t(start - 1), std::size_t(count)));
    }
};
