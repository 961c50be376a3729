#include "DecoderLog.h"

#include "RepeatFold.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdarg>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

namespace {

// Longer partial lines are cut; more threads with a partial line at once
// end the oldest one's line early.
const std::size_t longestPending = 4096;
const std::size_t mostPendingThreads = 16;

// A line still being written by one thread.
struct PendingLine
{
    std::string text;
    int level = AV_LOG_QUIET;
    int printPrefix = 1;
};

// Never destroyed, and not on the heap (a Qt host may really unload the
// library): FFmpeg's threads may log while the process ends. It holds no
// memory of its own while no sink is attached.
struct State
{
    std::mutex mutex;
    DecoderLog::Sink sink = nullptr;
    int attachments = 0;
    bool silenced = false;
    RepeatFold fold;
    QElapsedTimer clock;
    std::map<std::thread::id, PendingLine> pending;

    State() { clock.start(); }
};

State &state()
{
    alignas(State) static unsigned char storage[sizeof(State)];
    static State *const instance = new (storage) State;
    return *instance;
}

void write(State &s, const std::vector<RepeatFold::Line> &lines)
{
    if (!s.sink)
        return;
    for (const RepeatFold::Line &line : lines) {
        const DecoderLog::Level level = line.level <= AV_LOG_ERROR ? DecoderLog::Level::Error : DecoderLog::Level::Trace;
        s.sink(level, QString::fromUtf8(line.text.data(), static_cast<int>(line.text.size())));
    }
}

void endLine(State &s, std::map<std::thread::id, PendingLine>::iterator pending)
{
    std::string line = pending->second.text;
    const int level = pending->second.level;
    s.pending.erase(pending);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (!line.empty())
        write(s, s.fold.add(level, line, s.clock.elapsed()));
}

void endEveryLine(State &s)
{
    while (!s.pending.empty())
        endLine(s, s.pending.begin());
}

PendingLine &pendingOfThisThread(State &s)
{
    const std::thread::id thread = std::this_thread::get_id();
    if (s.pending.size() >= mostPendingThreads && s.pending.count(thread) == 0)
        endLine(s, s.pending.begin());
    return s.pending[thread];
}

// Appends a formatted piece; a piece that ends in a line break ends the line.
void takePiece(State &s, PendingLine &line, int level, const char *piece)
{
    const std::size_t length = std::char_traits<char>::length(piece);
    line.level = line.text.empty() ? level : std::min(line.level, level);
    if (line.text.size() < longestPending)
        line.text.append(piece, std::min(length, longestPending - line.text.size()));
    if (length > 0 && (piece[length - 1] == '\n' || piece[length - 1] == '\r'))
        endLine(s, s.pending.find(std::this_thread::get_id()));
}

bool wanted(const State &s, int level)
{
    return level <= AV_LOG_VERBOSE && s.sink && !s.silenced;
}

void ffmpegCallback(void *object, int level, const char *format, va_list arguments)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!wanted(s, level))
        return;
    PendingLine &line = pendingOfThisThread(s);
    char piece[1024];
    av_log_format_line2(object, level, format, arguments, piece, sizeof piece, &line.printPrefix);
    takePiece(s, line, level, piece);
}

} // namespace

void DecoderLog::attach(Sink sink)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.sink = sink;
    ++s.attachments;
    if (!s.silenced)
        av_log_set_callback(ffmpegCallback);
}

void DecoderLog::detach()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.attachments > 0 && --s.attachments > 0)
        return;
    endEveryLine(s);
    write(s, s.fold.flush());
    s.sink = nullptr;
    // The library may be unloaded next: FFmpeg must not call into it.
    av_log_set_callback(av_log_default_callback);
}

void DecoderLog::silence()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.silenced = true;
    s.sink = nullptr;
}

void DecoderLog::reclaim()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.sink && !s.silenced)
        av_log_set_callback(ffmpegCallback);
}

void DecoderLog::flush()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    write(s, s.fold.flush());
}

void DecoderLog::receive(int ffmpegLevel, const char *piece)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (wanted(s, ffmpegLevel))
        takePiece(s, pendingOfThisThread(s), ffmpegLevel, piece);
}
