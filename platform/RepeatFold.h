#pragma once

#include <QtGlobal>

#include <cstddef>
#include <list>
#include <string>
#include <vector>

// Folds repeated messages: the first of a kind is written at once, its
// repeats within the window are only counted, and the count is written as
// one line when the window has passed (or at flush()). Messages that differ
// only in an object address ("@ 0x55d0c8a1b2c0") are of one kind, and are
// written without it. Holds at most a bounded number of kinds.
//
// Not thread-safe.
class RepeatFold
{
public:
    struct Line
    {
        int level;
        std::string text;
    };

    static constexpr qint64 defaultWindowMs = 300000;
    static constexpr std::size_t defaultCapacity = 32;

    explicit RepeatFold(qint64 windowMs = defaultWindowMs, std::size_t capacity = defaultCapacity);

    // The lines to write now for a message of the level that came at nowMs.
    std::vector<Line> add(int level, const std::string &message, qint64 nowMs);
    // The counts held back, as lines; forgets every kind.
    std::vector<Line> flush();

    // The message as written: addresses gone, made safe (LogText), cut to
    // a bounded length.
    static std::string normalised(const std::string &message);

private:
    struct Kind
    {
        int level;
        std::string text;
        qint64 firstMs;
        int repeats;
    };
    static void countLine(const Kind &kind, std::vector<Line> &lines);

    qint64 m_windowMs;
    std::size_t m_capacity;
    std::list<Kind> m_kinds; // oldest first
};
