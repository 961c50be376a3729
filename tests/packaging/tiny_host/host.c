/*
 * The smallest host, built against the installed SDK with nothing but its
 * two includes: it prints the version, logs in with the shipped
 * configuration (which names no store server) and runs a GLib main loop
 * until the session callback has told it the outcome.
 */
#include <glib.h>
#include <nerova.h>

#include <stdio.h>

static GMainLoop *loop;

static void on_session(int code, const wchar_t *text)
{
    (void)text;
    printf("session %d\n", code);
    g_main_loop_quit(loop);
}

static void on_face(const wchar_t *text) { (void)text; }
static void on_notify(int code, const wchar_t *text) { (void)code; (void)text; }

static gboolean give_up(gpointer data)
{
    (void)data;
    printf("no session callback\n");
    g_main_loop_quit(loop);
    return G_SOURCE_REMOVE;
}

int main(void)
{
    printf("nerova %s\n", NV_GetVersion());
    loop = g_main_loop_new(NULL, FALSE);
    int result = NV_Init(on_session, on_face, on_notify);
    if (result == NV_OK)
        result = NV_Login("demo", "demo");
    g_timeout_add_seconds(10, give_up, NULL);
    g_main_loop_run(loop);
    NV_Uninit();
    g_main_loop_unref(loop);
    return result;
}
