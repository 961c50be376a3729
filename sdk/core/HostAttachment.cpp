#include "HostAttachment.h"

#include "NerovaBase.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>

#include <dlfcn.h>
#include <glib.h>
#include <pthread.h>

#include <cstdio>

// Exported by QtCore (declared in its private headers): the number of events
// posted to the current thread and not yet delivered.
uint qGlobalPostedEventsCount();

namespace {

// Qt keeps a reference to the argument count for as long as the
// application object lives, which is for ever.
int bootstrapArgc = 0;
QCoreApplication *bootstrapApp = nullptr;
GSource *flushSource = nullptr;
bool dispatcherIsGlib = true;
// Plain data, so that they are set before any C++ initialiser of this
// library could run.
pthread_t loadingThread;
bool loadingThreadKnown = false;

// The prepare and check steps only tell GLib whether Qt holds posted
// events; the flush, and with it every host callback it leads to, runs in
// the dispatch step. A host may run a nested iteration of its loop inside a
// callback, and GLib allows that only from dispatch (the source may recurse).
//
// Prepare never claims readiness: an event that can never be delivered at
// this loop level would otherwise make every poll return at once. Posting an
// event wakes the context anyway.
gboolean flushPrepare(GSource *, gint *timeout)
{
    *timeout = -1;
    return FALSE;
}

gboolean flushCheck(GSource *)
{
    return QCoreApplication::instance() && qGlobalPostedEventsCount() > 0;
}

// Qt's own dispatcher delivers a deleteLater() made outside any event
// handler only inside a Qt event loop, which a non-Qt host never runs: the
// deferred deletes are asked for explicitly. Not while a host callback runs
// a nested loop, though: the objects whose handlers called the host are
// still on the stack below it, and some of them are due for deletion.
gboolean flushDispatch(GSource *, GSourceFunc, gpointer)
{
    if (QCoreApplication::instance()) {
        QCoreApplication::sendPostedEvents();
        if (!NerovaBase::isInsideHostCallback())
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return G_SOURCE_CONTINUE;
}

GSourceFuncs flushFuncs = {flushPrepare, flushCheck, flushDispatch, nullptr, nullptr, nullptr};

// Qt's GLib dispatcher pushes the context it attaches to as the thread's
// default (the global default context on the main thread); the flush
// source joins the same one.
void attachFlushSource()
{
    GMainContext *context = g_main_context_ref_thread_default();
    flushSource = g_source_new(&flushFuncs, sizeof(GSource));
    g_source_set_can_recurse(flushSource, TRUE);
    g_source_attach(flushSource, context);
    g_main_context_unref(context);
}

// One more reference by the library's own path, never released: the
// host's dlclose() cannot unmap the code behind the source and the Qt
// objects.
void pinModule()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&HostAttachment::attach), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NODELETE);
}

} // namespace

void HostAttachment::attach()
{
    loadingThread = pthread_self();
    loadingThreadKnown = true;
    if (QCoreApplication::instance())
        return;
    try {
        bootstrapApp = new QCoreApplication(bootstrapArgc, nullptr);
    } catch (...) {
        return;
    }
    const QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    dispatcherIsGlib = dispatcher && dispatcher->inherits("QEventDispatcherGlib");
    attachFlushSource();
    pinModule();
    if (!dispatcherIsGlib)
        std::fprintf(stderr, "nerova: ERROR %s\n", deliveryProblem().toLocal8Bit().constData());
}

// The bootstrap application is deliberately never destroyed. This runs at
// process exit after the exit handlers have torn down Qt's global objects,
// and destroying it then crashes; it stays reachable through
// bootstrapApp until the process is gone. Only the flush source is
// removed, so that nothing iterating the context from now on calls into
// the torn-down Qt.
void HostAttachment::detach()
{
    if (!flushSource)
        return;
    g_source_destroy(flushSource);
    g_source_unref(flushSource);
    flushSource = nullptr;
}

bool HostAttachment::isBootstrapped()
{
    return bootstrapApp != nullptr;
}

bool HostAttachment::isLoadingThread()
{
    return !loadingThreadKnown || pthread_equal(loadingThread, pthread_self());
}

QString HostAttachment::deliveryProblem()
{
    if (!isBootstrapped() || dispatcherIsGlib)
        return QString();
    return QStringLiteral("Qt's event dispatcher is not the GLib one (QT_NO_GLIB set?): a non-Qt host "
                          "cannot deliver the library's events, so its timers, file watching and "
                          "network answers never run");
}

__attribute__((constructor)) static void nerovaLoaded()
{
    HostAttachment::attach();
}

__attribute__((destructor)) static void nerovaUnloaded()
{
    HostAttachment::detach();
}
