/* See host_commands.h. Plain C11 and POSIX, no Qt. */
#define _POSIX_C_SOURCE 200809L
#include "host_commands.h"

#include <dlfcn.h>
#include <pthread.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#ifndef NEROVA_DEFAULT_LIBRARY
#define NEROVA_DEFAULT_LIBRARY "libnerova.so"
#endif

static char *next_word_of(char **rest)
{
    char *word = *rest;
    while (*word == ' ')
        ++word;
    char *end = word;
    while (*end && *end != ' ')
        ++end;
    *rest = *end ? end + 1 : end;
    *end = '\0';
    return word;
}

/* ---- JSON lines ---------------------------------------------------- */

typedef struct JsonLine {
    char *data;
    size_t length;
    size_t capacity;
} JsonLine;

static void json_bytes(JsonLine *line, const char *bytes, size_t count)
{
    if (line->length + count + 2 > line->capacity) {
        size_t capacity = line->capacity ? line->capacity : 256;
        while (line->length + count + 2 > capacity)
            capacity *= 2;
        char *grown = realloc(line->data, capacity);
        if (!grown)
            return;
        line->data = grown;
        line->capacity = capacity;
    }
    memcpy(line->data + line->length, bytes, count);
    line->length += count;
    line->data[line->length] = '\0';
}

static void json_raw(JsonLine *line, const char *text)
{
    json_bytes(line, text, strlen(text));
}

static void json_int(JsonLine *line, long value)
{
    char text[32];
    snprintf(text, sizeof text, "%ld", value);
    json_raw(line, text);
}

/* One code point, escaped for a JSON string and encoded as UTF-8. */
static void json_code_point(JsonLine *line, unsigned long c)
{
    char out[8];
    size_t n = 0;
    if (c == '"' || c == '\\') {
        out[n++] = '\\';
        out[n++] = (char)c;
    } else if (c < 0x20) {
        n = (size_t)snprintf(out, sizeof out, "\\u%04lx", c);
    } else if (c < 0x80) {
        out[n++] = (char)c;
    } else {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x800) {
            out[n++] = (char)(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            out[n++] = (char)(0xE0 | (c >> 12));
            out[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
        } else {
            out[n++] = (char)(0xF0 | (c >> 18));
            out[n++] = (char)(0x80 | ((c >> 12) & 0x3F));
            out[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
        }
        out[n++] = (char)(0x80 | (c & 0x3F));
    }
    json_bytes(line, out, n);
}

/* Decodes one UTF-8 sequence; a malformed one gives U+FFFD and one byte. */
static unsigned long utf8_next(const unsigned char **text)
{
    const unsigned char *p = *text;
    unsigned long c = *p++;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (c >= 0x80 && more == 0) {
        *text = p;
        return 0xFFFD;
    }
    static const unsigned char leadBits[] = {0x7F, 0x1F, 0x0F, 0x07};
    c &= leadBits[more];
    for (int i = 0; i < more; ++i, ++p) {
        if ((*p & 0xC0) != 0x80) {
            *text = *text + 1;
            return 0xFFFD;
        }
        c = (c << 6) | (*p & 0x3F);
    }
    *text = p;
    return c;
}

static void json_string(JsonLine *line, const char *text)
{
    json_raw(line, "\"");
    const unsigned char *p = (const unsigned char *)text;
    while (*p)
        json_code_point(line, utf8_next(&p));
    json_raw(line, "\"");
}

/* A callback's wide text (UTF-32 on Linux); null stays null. */
static void json_wide(JsonLine *line, const wchar_t *text)
{
    if (!text) {
        json_raw(line, "null");
        return;
    }
    json_raw(line, "\"");
    for (; *text; ++text)
        json_code_point(line, (unsigned long)*text);
    json_raw(line, "\"");
}

/* Callbacks may come from the library's worker thread: a line is written
 * whole under the stream's lock. */
static void json_emit(JsonLine *line)
{
    json_raw(line, "}\n");
    if (line->data) {
        flockfile(stdout);
        fputs(line->data, stdout);
        fflush(stdout);
        funlockfile(stdout);
    }
    free(line->data);
}

static JsonLine json_begin(const char *key, const char *value)
{
    JsonLine line = {NULL, 0, 0};
    json_raw(&line, "{\"");
    json_raw(&line, key);
    json_raw(&line, "\":");
    json_string(&line, value);
    return line;
}

static void print_result(const char *command, long result)
{
    JsonLine line = json_begin("cmd", command);
    json_raw(&line, ",\"result\":");
    json_int(&line, result);
    json_emit(&line);
}

static void print_error(const char *command, const char *error)
{
    JsonLine line = json_begin("cmd", command);
    json_raw(&line, ",\"error\":");
    json_string(&line, error);
    json_emit(&line);
}

void host_print_flag(const char *event, const char *stage, const char *key, int value)
{
    JsonLine line = json_begin("event", event);
    json_raw(&line, ",\"after\":");
    json_string(&line, stage);
    json_raw(&line, ",\"");
    json_raw(&line, key);
    json_raw(&line, value ? "\":true" : "\":false");
    json_emit(&line);
}

/* ---- callbacks ----------------------------------------------------- */

/* The reactions armed with "on": each runs once, inside the first callback
 * that matches it. */
typedef struct Reaction {
    char callback[16];
    int anyCode;
    int code;
    char command[512];
} Reaction;

/* Face callbacks come from the library's worker thread. */
static pthread_mutex_t reactionLock = PTHREAD_MUTEX_INITIALIZER;
static HostSession *activeSession;
static Reaction reactions[16];
static int reactionCount;

static void run_line(HostSession *session, char *line);

static void arm_reaction(char *argument)
{
    pthread_mutex_lock(&reactionLock);
    if (reactionCount == (int)(sizeof reactions / sizeof reactions[0])) {
        pthread_mutex_unlock(&reactionLock);
        return;
    }
    Reaction *r = &reactions[reactionCount++];
    char *name = next_word_of(&argument);
    char *code = next_word_of(&argument);
    snprintf(r->callback, sizeof r->callback, "%s", name);
    r->anyCode = !strcmp(code, "*");
    r->code = atoi(code);
    snprintf(r->command, sizeof r->command, "%s", argument);
    pthread_mutex_unlock(&reactionLock);
}

static void react(const char *name, int code)
{
    Reaction due[16];
    int dueCount = 0;
    pthread_mutex_lock(&reactionLock);
    for (int i = 0; i < reactionCount;) {
        if (strcmp(reactions[i].callback, name) || (!reactions[i].anyCode && reactions[i].code != code)) {
            ++i;
            continue;
        }
        due[dueCount++] = reactions[i];
        memmove(&reactions[i], &reactions[i + 1], sizeof reactions[0] * (size_t)(reactionCount - i - 1));
        --reactionCount;
    }
    pthread_mutex_unlock(&reactionLock);
    for (int i = 0; i < dueCount; ++i)
        run_line(activeSession, due[i].command);
}

static void print_callback(const char *name, int set, int hasCode, int code, const wchar_t *text)
{
    JsonLine line = json_begin("callback", name);
    json_raw(&line, ",\"set\":");
    json_int(&line, set);
    if (hasCode) {
        json_raw(&line, ",\"code\":");
        json_int(&line, code);
    }
    json_raw(&line, ",\"text\":");
    json_wide(&line, text);
    json_emit(&line);
    react(name, code);
}

static void session1(int code, const wchar_t *text) { print_callback("session", 1, 1, code, text); }
static void face1(const wchar_t *text) { print_callback("face", 1, 0, 0, text); }
void host_face_callback(int set, const wchar_t *text) { print_callback("face", set, 0, 0, text); }
static void notify1(int code, const wchar_t *text) { print_callback("notify", 1, 1, code, text); }
static void session2(int code, const wchar_t *text) { print_callback("session", 2, 1, code, text); }
static void face2(const wchar_t *text) { print_callback("face", 2, 0, 0, text); }
static void notify2(int code, const wchar_t *text) { print_callback("notify", 2, 1, code, text); }

/* ---- the library --------------------------------------------------- */

const char *host_library_path(int argc, char **argv)
{
    static char besideExecutable[4096];
    if (argc > 1)
        return argv[1];
    ssize_t n = readlink("/proc/self/exe", besideExecutable, sizeof besideExecutable - 32);
    if (n > 0) {
        besideExecutable[n] = '\0';
        char *slash = strrchr(besideExecutable, '/');
        if (slash) {
            strcpy(slash + 1, "libnerova.so");
            if (access(besideExecutable, F_OK) == 0)
                return besideExecutable;
        }
    }
    return NEROVA_DEFAULT_LIBRARY;
}

static int api_open(NerovaApi *api, const char *path)
{
    memset(api, 0, sizeof *api);
    api->handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!api->handle)
        return -1;
    /* POSIX allows converting dlsym's result to a function pointer. */
    *(void **)&api->init = dlsym(api->handle, "NV_Init");
    *(void **)&api->uninit = dlsym(api->handle, "NV_Uninit");
    *(void **)&api->start = dlsym(api->handle, "NV_Start");
    *(void **)&api->stop = dlsym(api->handle, "NV_Stop");
    *(void **)&api->login = dlsym(api->handle, "NV_Login");
    *(void **)&api->logout = dlsym(api->handle, "NV_Logout");
    *(void **)&api->reportData = dlsym(api->handle, "NV_ReportData");
    *(void **)&api->getVersion = dlsym(api->handle, "NV_GetVersion");
    if (api->init && api->uninit && api->start && api->stop && api->login && api->logout && api->reportData
        && api->getVersion)
        return 0;
    dlclose(api->handle);
    memset(api, 0, sizeof *api);
    return -1;
}

static void run_load(HostSession *session, const char *command)
{
    if (session->api.handle) {
        print_error(command, "already loaded");
        return;
    }
    if (api_open(&session->api, session->libraryPath) != 0) {
        const char *why = dlerror();
        print_error(command, why ? why : "the library lacks an export");
        return;
    }
    JsonLine line = json_begin("cmd", command);
    json_raw(&line, ",\"result\":0,\"path\":");
    json_string(&line, session->libraryPath);
    json_emit(&line);
    if (session->afterCommand)
        session->afterCommand(session, command);
}

static void run_close(HostSession *session, const char *command)
{
    if (!session->api.handle) {
        print_error(command, "not loaded");
        return;
    }
    int result = dlclose(session->api.handle);
    memset(&session->api, 0, sizeof session->api);
    print_result(command, result);
}

/* ---- commands ------------------------------------------------------ */

/* Wide copy of a UTF-8 text; the caller frees it. */
static wchar_t *wide_copy(const char *text)
{
    wchar_t *wide = calloc(strlen(text) + 1, sizeof *wide);
    if (!wide)
        return NULL;
    const unsigned char *p = (const unsigned char *)text;
    size_t n = 0;
    while (*p)
        wide[n++] = (wchar_t)utf8_next(&p);
    return wide;
}

#define next_word next_word_of

static void sleep_ms(long ms)
{
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

typedef struct OtherThreadInit {
    const NerovaApi *api;
    int result;
} OtherThreadInit;

static void *init_there(void *data)
{
    OtherThreadInit *call = data;
    call->result = call->api->init(session1, face1, notify1);
    return NULL;
}

/* NV_Init on a thread of its own, which the host waits for. */
static int init_on_other_thread(const NerovaApi *api)
{
    OtherThreadInit call = {api, -1};
    pthread_t thread;
    if (pthread_create(&thread, NULL, init_there, &call) != 0)
        return -1;
    pthread_join(thread, NULL);
    return call.result;
}

typedef struct OtherThreadReport {
    const NerovaApi *api;
    const wchar_t *data;
    int result;
} OtherThreadReport;

static void *report_there(void *data)
{
    OtherThreadReport *call = data;
    call->result = call->api->reportData(call->data);
    return NULL;
}

/* NV_ReportData on a thread of its own, which the host waits for. */
static int report_on_other_thread(const NerovaApi *api, const wchar_t *data)
{
    OtherThreadReport call = {api, data, -1};
    pthread_t thread;
    if (!data || pthread_create(&thread, NULL, report_there, &call) != 0)
        return -1;
    pthread_join(thread, NULL);
    return call.result;
}

static int run_export(HostSession *session, const char *command, char *argument, long *result)
{
    const NerovaApi *api = &session->api;
    if (!strcmp(command, "init"))
        *result = api->init(session1, face1, notify1);
    else if (!strcmp(command, "init-other"))
        *result = api->init(session2, face2, notify2);
    else if (!strcmp(command, "init-null"))
        *result = api->init(session1, NULL, notify1);
    else if (!strcmp(command, "init-thread"))
        *result = init_on_other_thread(api);
    else if (!strcmp(command, "init-throwing") && session->throwingFace)
        *result = api->init(session1, session->throwingFace, notify1);
    else if (!strcmp(command, "uninit"))
        *result = api->uninit();
    else if (!strcmp(command, "start"))
        *result = api->start();
    else if (!strcmp(command, "stop"))
        *result = api->stop();
    else if (!strcmp(command, "logout"))
        *result = api->logout();
    else if (!strcmp(command, "login-null"))
        *result = api->login(NULL, NULL);
    else if (!strcmp(command, "login-blank"))
        *result = api->login(" ", "\t ");
    else if (!strcmp(command, "report-null"))
        *result = api->reportData(NULL);
    else if (!strcmp(command, "login")) {
        char *user = next_word(&argument);
        *result = api->login(user, next_word(&argument));
    } else if (!strcmp(command, "report")) {
        wchar_t *data = wide_copy(argument);
        *result = data ? api->reportData(data) : -1;
        free(data);
    } else if (!strcmp(command, "report-thread")) {
        wchar_t *data = wide_copy(argument);
        *result = report_on_other_thread(api, data);
        free(data);
    } else
        return 0;
    return 1;
}

static void run_line(HostSession *session, char *line)
{
    char *argument = line;
    const char *command = next_word(&argument);
    long result = 0;
    if (!*command)
        return;
    if (!strcmp(command, "quit")) {
        print_result(command, 0);
        session->quitting = 1;
    } else if (!strcmp(command, "loop")) {
        session->waiting = 1;
        session->resumeAfter(session, (unsigned)strtoul(argument, NULL, 10));
    } else if (!strcmp(command, "pause")) {
        long ms = strtol(argument, NULL, 10);
        JsonLine begin = json_begin("cmd", command);
        json_raw(&begin, ",\"state\":\"begin\",\"ms\":");
        json_int(&begin, ms);
        json_emit(&begin);
        sleep_ms(ms);
        print_result(command, 0);
    } else if (!strcmp(command, "on")) {
        arm_reaction(argument);
        print_result(command, 0);
    } else if (!strcmp(command, "nest")) {
        if (session->nest)
            session->nest(session, (unsigned)strtoul(argument, NULL, 10));
        print_result(command, session->nest ? 0 : -1);
    } else if (!strcmp(command, "longest-iteration")) {
        JsonLine out = json_begin("cmd", command);
        json_raw(&out, ",\"result\":");
        json_int(&out, session->longestIteration ? 0 : -1);
        json_raw(&out, ",\"ms\":");
        json_int(&out, session->longestIteration ? session->longestIteration(session) : -1);
        json_emit(&out);
    } else if (!strcmp(command, "dlopen")) {
        run_load(session, command);
    } else if (!strcmp(command, "dlclose")) {
        run_close(session, command);
    } else if (!session->api.handle) {
        print_error(command, "not loaded");
    } else if (!strcmp(command, "version")) {
        JsonLine out = json_begin("cmd", command);
        json_raw(&out, ",\"result\":");
        json_string(&out, session->api.getVersion());
        json_emit(&out);
    } else if (run_export(session, command, argument, &result)) {
        print_result(command, result);
        if (session->afterCommand && (!strncmp(command, "init", 4) || !strcmp(command, "uninit")))
            session->afterCommand(session, command);
    } else {
        print_error(command, "unknown command");
    }
}

/* ---- the session --------------------------------------------------- */

int host_session_open(HostSession *session, const char *libraryPath)
{
    activeSession = session;
    snprintf(session->libraryPath, sizeof session->libraryPath, "%s", libraryPath);
    session->inputLength = 0;
    session->inputEnded = 0;
    session->waiting = 0;
    session->quitting = 0;
    run_load(session, "load");
    return session->api.handle ? 0 : -1;
}

int host_session_read(HostSession *session, int fd)
{
    size_t room = sizeof session->input - 1 - session->inputLength;
    if (room == 0) {
        /* A line longer than the buffer: drop what is held. */
        session->inputLength = 0;
        room = sizeof session->input - 1;
    }
    ssize_t n = read(fd, session->input + session->inputLength, room);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return 1;
    if (n <= 0) {
        session->inputEnded = 1;
        return 0;
    }
    session->inputLength += (size_t)n;
    return 1;
}

void host_session_run(HostSession *session)
{
    while (!session->waiting && !session->quitting) {
        char *newline = memchr(session->input, '\n', session->inputLength);
        if (!newline) {
            if (session->inputEnded)
                session->quitting = 1;
            break;
        }
        *newline = '\0';
        if (newline > session->input && newline[-1] == '\r')
            newline[-1] = '\0';
        char line[sizeof session->input];
        memcpy(line, session->input, (size_t)(newline - session->input) + 1);
        session->inputLength -= (size_t)(newline + 1 - session->input);
        memmove(session->input, newline + 1, session->inputLength);
        run_line(session, line);
    }
    if (session->quitting)
        session->quit(session);
}

void host_session_resume(HostSession *session)
{
    session->waiting = 0;
    print_result("loop", 0);
    host_session_run(session);
}
