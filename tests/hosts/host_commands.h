/*
 * host_commands.h - the part the example hosts share: loading libnerova.so
 * with dlopen(), the scenario commands read from standard input, and the
 * JSON lines printed for every result and every callback.
 *
 * A host supplies only its loop: it feeds standard input to
 * host_session_read() whenever it is readable, calls host_session_run(),
 * and implements the two hooks below.
 *
 * Commands, one a line:
 *   init | init-other | init-null    NV_Init with callback set 1, set 2, or a null face callback
 *   init-thread                      NV_Init with set 1 on a new thread, which the host joins
 *   init-throwing                    NV_Init with set 1 and the host's face callback that throws
 *                                    (a C++ host only)
 *   longest-iteration                the longest time one iteration of the host's loop worked
 *                                    (did not wait) since the last such command, as "ms"
 *   uninit | start | stop | logout   the export of that name
 *   login <user> <password>          NV_Login with UTF-8 texts
 *   login-null | login-blank         NV_Login(NULL, NULL) | NV_Login(" ", "\t ")
 *   report <json> | report-null      NV_ReportData with the text as a wide string | NULL
 *   report-thread <json>             NV_ReportData on a new thread, which the host joins
 *   version                          NV_GetVersion
 *   dlclose | dlopen                 drop | take again the host's handle on the library
 *   pause <ms>                       sleep without iterating the loop
 *   loop <ms>                        let the loop run for that long before the next command
 *   quit                             leave the loop (so does the end of the input)
 *   on <callback> <code|*> <command> once, inside the next callback of that name
 *                                    (session, face, notify) and code, run the
 *                                    command (several armed for one callback run
 *                                    in order): any export command, or
 *   nest <ms>                        iterate the host's loop for that long from
 *                                    where it is (inside a callback: nested)
 * Output, one JSON object a line, flushed at once:
 *   {"cmd":"init","result":0}
 *   {"callback":"session","set":1,"code":0,"text":"..."}
 */
#ifndef HOST_COMMANDS_H
#define HOST_COMMANDS_H

#include "nerova.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The eight exports of the loaded library. */
typedef struct NerovaApi {
    void *handle;
    int (*init)(NV_SessionCallback, NV_FaceCallback, NV_NotifyCallback);
    int (*uninit)(void);
    int (*start)(void);
    int (*stop)(void);
    int (*login)(const char *, const char *);
    int (*logout)(void);
    int (*reportData)(const wchar_t *);
    const char *(*getVersion)(void);
} NerovaApi;

typedef struct HostSession HostSession;
struct HostSession {
    char libraryPath[4096];
    NerovaApi api;
    char input[65536];
    size_t inputLength;
    int inputEnded;
    int waiting;
    int quitting;
    /* Hooks of the host's loop. resumeAfter: call host_session_resume()
     * once the loop has run for ms milliseconds. quit: leave the loop.
     * afterCommand (may be NULL): runs after each command that touched the
     * library's life (load, dlopen, init*, uninit). */
    void (*resumeAfter)(HostSession *session, unsigned ms);
    void (*quit)(HostSession *session);
    void (*afterCommand)(HostSession *session, const char *command);
    /* nest: iterate the loop for ms milliseconds, then return (may be NULL). */
    void (*nest)(HostSession *session, unsigned ms);
    /* longest-iteration: the longest working time of one loop iteration,
     * in milliseconds, since the last call, which starts a new count (may
     * be NULL). */
    long (*longestIteration)(HostSession *session);
    /* init-throwing: a face callback of a C++ host that throws (may be NULL). */
    NV_FaceCallback throwingFace;
    void *loop;
};

/* The library named on the command line, else libnerova.so beside the
 * executable, else the one of the build tree. */
const char *host_library_path(int argc, char **argv);

/* Prepares the session and loads the library; 0 on success. */
int host_session_open(HostSession *session, const char *libraryPath);
/* Reads what standard input (fd) holds now; 0 once it has ended. */
int host_session_read(HostSession *session, int fd);
/* Runs the complete command lines read so far, until a loop command makes
 * it wait or the scenario ends. */
void host_session_run(HostSession *session);
/* The loop command's time is up: report it and run on. */
void host_session_resume(HostSession *session);

/* Prints the face callback's line for callback set `set`, and runs the
 * reactions armed for it. */
void host_face_callback(int set, const wchar_t *text);

/* Prints {"event":"<event>","<key>":<true|false>}. */
void host_print_flag(const char *event, const char *stage, const char *key, int value);

#ifdef __cplusplus
}
#endif

#endif /* HOST_COMMANDS_H */
