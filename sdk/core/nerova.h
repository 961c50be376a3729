/*
 * nerova.h - the interface of libnerova.so, the store visitor SDK.
 *
 * Threads and the loop. Call every function from one thread: the thread
 * that loaded the library. That thread must iterate its GLib main context
 * (a GLib, GTK or Qt main loop); the library's network answers, timers and
 * file watching are delivered only while it does, never while the host
 * sleeps or blocks. Every function returns at once; the outcome of a
 * request arrives later through the callbacks.
 *
 * Loading. A host without Qt: at load the library creates its own Qt
 * application object (which, as Qt does, sets the C locale from the
 * environment) and a source on the thread's GLib main context, and keeps
 * itself loaded: dlclose() does not unmap it, and it stays until the
 * process ends. Qt must use its GLib event dispatcher for this (the
 * default; not with QT_NO_GLIB=1, in which case the library logs an
 * error at NV_Init). A Qt host: create the QCoreApplication first and
 * dlopen() the library afterwards (linking it at build time would load it
 * before main() has created the application); the library then uses the
 * host's application and loop and adds nothing. A Qt host's dlclose()
 * really unloads the library, so call NV_Uninit before it.
 *
 * A host may exit with or without calling NV_Uninit.
 *
 * Inside a callback. Any function may be called from inside any callback,
 * NV_Uninit included, and the host may run a nested iteration of its loop
 * there (a modal dialog); later callbacks then arrive inside that nested
 * loop. A function called on another thread than the host's (from inside
 * a face callback, which comes from the library's worker thread, or from
 * any thread of the host) returns 0 at once and runs on the host thread
 * when it next iterates its loop; with no core it returns 6001 (NV_Init:
 * 6003, see there) and NV_Uninit 0. NV_ReportData is the exception: it
 * keeps the trade on the calling thread and answers as on the host thread.
 *
 * Texts. Texts handed to a callback are never null: NUL-terminated wide
 * strings (UTF-32 on Linux, where wchar_t has 32 bits) owned by the
 * library and valid only during the call; copy them if you need them
 * afterwards. Callbacks may come from the host thread and from one worker
 * thread of the library; make them safe for both and do not block in
 * them. No function lets a C++ exception escape, and no null text pointer
 * makes one crash (see NV_Login and NV_ReportData).
 */
#ifndef NEROVA_H
#define NEROVA_H

#include <wchar.h>

#if defined(_WIN32)
#define NV_CALL __cdecl
#else
#define NV_CALL /* x86-64 Linux has one C calling convention */
#endif

#if defined(NEROVA_BUILDING_LIBRARY)
#define NV_API __attribute__((visibility("default")))
#else
#define NV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the exported functions. */
#define NV_OK 0                  /* done; for NV_Login: the request was sent; NV_ReportData: see there */
#define NV_ERR_NOT_INIT 6001     /* NV_Init has not succeeded, or NV_Uninit has run */
#define NV_ERR_INIT 6002         /* NV_Init: a callback is null, or the library could not be set up */
#define NV_ERR_THREAD 6003       /* NV_Init: called on another thread than the one that loaded the library */
#define NV_ERR_PARAM 6005        /* NV_Login: user name or password is null or blank */
#define NV_ERR_NO_SESSION 6101   /* NV_Start, NV_ReportData: not logged in (or the session ended) */

/* Codes of the session callback (besides 0 and the store server's own non-zero states). */
#define NV_SESSION_OK 0                /* login accepted; text: JSON array of the brand's labels */
#define NV_SESSION_INVALID_TOKEN 6106  /* the server rejected the token; the workers are stopped, log in again */
#define NV_SESSION_BAD_ANSWER 6107     /* the login answer is no JSON object (a captive portal's page), or
                                        * has state 0 without a token: no session; text: what came back,
                                        * "Login answer is not a JSON object (text/html, 1234 bytes)" */
#define NV_SESSION_NETWORK_ERROR 6207  /* the login request failed on the network; text "Network error(N)" */

/* Codes of the notification callback. */
#define NV_NOTIFY_TRADE_REFUSED 6109   /* a trade report was refused; text: the server's message */
/* Trades the store server has not answered wait in the outbox in data/ and
 * are sent again until it answers (see NV_ReportData). These three come
 * once per change, never per attempt; their texts are not translated, and
 * hold the counts in this form: */
#define NV_NOTIFY_TRADES_HELD 6110     /* trades are held: the server did not answer one (network, time-out,
                                        * HTTP 408, 429, 5xx, an answer that is not JSON), a 401 ended the
                                        * session, or trades were left from an earlier run; "held: 3" */
#define NV_NOTIFY_TRADES_ANSWERED 6111 /* the outbox is empty again: every held trade was answered; "held: 0" */
#define NV_NOTIFY_TRADE_NOT_KEPT 6112  /* the outbox is full and a trade was not kept (it is lost; an ERROR
                                        * line says how many); "held: 10000, not kept: 1" */
#define NV_NOTIFY_CAMERA_READY 6201    /* the face camera is open (repeated at every device check) */
#define NV_NOTIFY_CAMERA_MISSING 6202  /* the configured camera was not found or did not open */
#define NV_NOTIFY_PROBE_READY 6203     /* the probe device is open; text "Probe device is ready" */
#define NV_NOTIFY_PROBE_ERROR 6204     /* the probe device is missing or its link failed; text: the error */
#define NV_NOTIFY_NETWORK_READY 6206   /* a face-side request succeeded after a network failure */
#define NV_NOTIFY_NETWORK_ERROR 6207   /* a face-side request failed after the network had been ready */
#define NV_NOTIFY_CLOUD_QUOTA 6208     /* the cloud face service's quota is used up: no face is searched for
                                        * Baidu/QuotaPause seconds (once per pause); text: the service's
                                        * error code and the pause */

/* Session callback: login results and loss of the session. Host thread,
 * except 6106 after a member-service answer, which may come from the worker thread. */
typedef void(NV_CALL *NV_SessionCallback)(int code, const wchar_t *text);
/* Face callback: a visitor as a JSON object, or an empty text when the face
 * has left the picture. Worker thread. */
typedef void(NV_CALL *NV_FaceCallback)(const wchar_t *text);
/* Notification callback: device, network and trade-report notices. Host
 * thread, except 6206, 6207 and 6208, which come from the worker thread. */
typedef void(NV_CALL *NV_NotifyCallback)(int code, const wchar_t *text);

/* Creates the library's core with the three callbacks (none may be null:
 * 6002, and nothing is created). Calling it again while initialised
 * returns 0 and keeps the first callbacks. After NV_Uninit it creates a
 * new core. Called on another thread than the one that loaded the library
 * while no core exists, it creates nothing and returns 6003, with an ERROR
 * line on the standard error and in the log. */
NV_API int NV_CALL NV_Init(NV_SessionCallback sessionCallback, NV_FaceCallback faceCallback,
                           NV_NotifyCallback notifyCallback);
/* Stops the workers and destroys the core; 0 also when not initialised.
 * Trades and a probe upload on their way get one wait of at most 3 s
 * together for their answers; what is not answered by then stays in data/
 * and goes out after the next NV_Init and login. */
NV_API int NV_CALL NV_Uninit(void);
/* Starts the face and probe workers: 0, 6001, or 6101 without a session. */
NV_API int NV_CALL NV_Start(void);
/* Stops the workers and keeps the session: 0 or 6001. */
NV_API int NV_CALL NV_Stop(void);
/* Sends the login: user name and password are NUL-terminated UTF-8 texts,
 * trimmed of white space. A null, empty or blank text gives 6005 and sends
 * nothing (6001 comes first when not initialised). The answer arrives
 * through the session callback. */
NV_API int NV_CALL NV_Login(const char *userName, const char *password);
/* Stops the workers and forgets the session locally: 0 or 6001. */
NV_API int NV_CALL NV_Logout(void);
/* Reports a trade: a JSON object as a NUL-terminated wide string. A null
 * pointer counts as an empty text: the server gets an object with only
 * "mac". 6001 when not initialised, 6101 without a session; may be called
 * from any thread.
 * On 0 the trade is in the outbox in data/ (written, not yet synced: a
 * killed host loses nothing, a power loss at most about the last second)
 * and goes out from the host's loop, with the session's token then, in the
 * order reported, each with its own key in the request header
 * "Idempotency-Key". It stays until the server answers it: accepted, or
 * refused (6109). A trade not answered is sent again, after 3 s doubling
 * up to 60 s; after a 401 (6106) it waits for the next login; trades held
 * when the host ends go out after the next NV_Init and login on the same
 * installation. Delivery is at least once: a server that must count each
 * trade once drops repeats by their key. 0 also when the outbox is full
 * (Server/TradeOutboxMax trades, or 16 MB): that trade is not kept and the
 * host gets 6112. */
NV_API int NV_CALL NV_ReportData(const wchar_t *data);
/* The library's version, "1.0.10": a static text, never null, callable at any time. */
NV_API const char *NV_CALL NV_GetVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* NEROVA_H */
