/*
 * nerova_c_host - an example host in plain C with no Qt at all: it loads
 * libnerova.so with dlopen() and runs a GLib main loop, which is what
 * delivers the library's timers, file watching and network answers.
 * Reads a scenario of commands from standard input while the loop runs
 * (see host_commands.h).
 *
 *   nerova_c_host [path/to/libnerova.so] < scenario
 */
#include "host_commands.h"

#include <glib.h>

static gboolean resume(gpointer data)
{
    host_session_resume(data);
    return G_SOURCE_REMOVE;
}

static void resume_after(HostSession *session, unsigned ms)
{
    g_timeout_add(ms, resume, session);
}

static void quit(HostSession *session)
{
    g_main_loop_quit(session->loop);
}

/* A host's nested loop, as a modal dialog runs one inside a callback. */
static void nest(HostSession *session, unsigned ms)
{
    (void)session;
    gint64 end = g_get_monotonic_time() + (gint64)ms * 1000;
    while (g_get_monotonic_time() < end) {
        if (!g_main_context_iteration(NULL, FALSE))
            g_usleep(1000);
    }
}

/* The loop's working time per iteration: from the end of one poll (the
 * loop stops waiting) to the start of the next. */
static gint64 pollEndedUs;
static gint64 longestWorkUs;

static gint timed_poll(GPollFD *fds, guint count, gint timeout)
{
    gint64 now = g_get_monotonic_time();
    if (pollEndedUs && now - pollEndedUs > longestWorkUs)
        longestWorkUs = now - pollEndedUs;
    gint result = g_poll(fds, count, timeout);
    pollEndedUs = g_get_monotonic_time();
    return result;
}

/* The command itself runs inside an iteration: its own time so far does
 * not count. */
static long longest_iteration(HostSession *session)
{
    (void)session;
    long ms = (long)(longestWorkUs / 1000);
    longestWorkUs = 0;
    pollEndedUs = g_get_monotonic_time();
    return ms;
}

static gboolean on_input(GIOChannel *channel, GIOCondition condition, gpointer data)
{
    (void)condition;
    HostSession *session = data;
    int more = host_session_read(session, g_io_channel_unix_get_fd(channel));
    host_session_run(session);
    return more ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

int main(int argc, char **argv)
{
    static HostSession session;
    session.resumeAfter = resume_after;
    session.quit = quit;
    session.nest = nest;
    session.longestIteration = longest_iteration;
    g_main_context_set_poll_func(NULL, timed_poll);
    if (host_session_open(&session, host_library_path(argc, argv)) != 0)
        return 2;

    GMainLoop *loop = g_main_loop_new(NULL, FALSE);
    session.loop = loop;
    GIOChannel *input = g_io_channel_unix_new(0);
    g_io_add_watch(input, G_IO_IN | G_IO_HUP | G_IO_ERR, on_input, &session);
    g_main_loop_run(loop);
    g_io_channel_unref(input);
    g_main_loop_unref(loop);
    return 0;
}
