#pragma once

#include <QString>

// Where the video decoder's messages go. OpenCV reads stream and video-file
// cameras through FFmpeg, whose messages would otherwise reach the
// process's standard error, which belongs to the host. While a sink is
// attached, FFmpeg's errors come to it at Level::Error and its warnings and
// notes at Level::Trace, each a whole line, repeats folded (RepeatFold);
// its debugging output is dropped. With no sink attached, nothing is
// written anywhere.
//
// FFmpeg has one log callback per process: it may be called on any thread,
// in pieces of a line, and until the process has ended. The sink is called
// under a lock, one line at a time; once detach() has returned it is not
// called again.
class DecoderLog
{
public:
    enum class Level { Error, Trace };
    using Sink = void (*)(Level level, const QString &line);

    // Installs the callback and sends the lines to sink. Attachments are
    // counted; the sink of the last attach() serves them all. The last
    // detach() gives FFmpeg its own callback back.
    static void attach(Sink sink);
    static void detach();
    // At process exit: no line goes anywhere from now on.
    static void silence();
    // OpenCV installs FFmpeg's own callback again when a capture is opened
    // with OPENCV_FFMPEG_DEBUG or OPENCV_FFMPEG_LOGLEVEL set: called after
    // every opening, this puts ours back while a sink is attached.
    static void reclaim();
    // Writes the counts of the repeats held back.
    static void flush();

    // For tests: one message as FFmpeg passes it, in pieces of a line.
    static void receive(int ffmpegLevel, const char *piece);
};
