// The eight exported functions: thin forwarders to the one core object.
// No C++ exception may leave them.
#include "HNerovaCore.h"
#include "HostAttachment.h"
#include "InstallPaths.h"
#include "LogGroup.h"
#include "NerovaBase.h"
#include "NerovaLog.h"
#include "nerova.h"

#include <QMetaObject>
#include <QSettings>
#include <QString>
#include <QThread>

#include <cstdlib>
#include <mutex>

namespace {

const char version[] = "1.0.10";

// Written only on the host thread, under the mutex; another thread reads it
// under the mutex.
HNerovaCore *core = nullptr;
QThread *hostThread = nullptr;
std::mutex coreMutex;

void setCore(HNerovaCore *value)
{
    std::lock_guard<std::mutex> lock(coreMutex);
    core = value;
    hostThread = value ? QThread::currentThread() : hostThread;
}

// An export called on another thread than the host's (from inside a face
// callback, which comes from the detection loop's thread) is run on the
// host thread once it is back in its loop; the call itself answers 0. Run
// there and then, NV_Uninit would wait for the very loop that called it.
template <typename Export>
bool forwardedToHostThread(Export again)
{
    std::lock_guard<std::mutex> lock(coreMutex);
    if (!core || QThread::currentThread() == hostThread)
        return false;
    QMetaObject::invokeMethod(core, again, Qt::QueuedConnection);
    return true;
}

// Exit handlers run in the reverse order of their registration, and
// log4cxx's own objects are registered when the first core sets up its
// logging: registered after them, this runs before they are torn down.
void endCoreAtExit()
{
    HNerovaCore *leftOver = nullptr;
    {
        std::lock_guard<std::mutex> lock(coreMutex);
        leftOver = core;
    }
    if (leftOver)
        leftOver->EndForExit();
}

void endCoreAtExitOnce()
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        NerovaLog::makeLevels();
        std::atexit(endCoreAtExit);
    });
}

template <typename Action>
int guarded(Action action, int onException)
{
    try {
        return action();
    } catch (...) {
        return onException;
    }
}

// Logged once per core, now that its Log group is in force.
void reportDeliveryProblem()
{
    const QString problem = HostAttachment::deliveryProblem();
    if (!problem.isEmpty() && NerovaBase::instance())
        NerovaBase::instance()->logError(problem);
}

int createCore(NV_SessionCallback sessionCallback, NV_FaceCallback faceCallback, NV_NotifyCallback notifyCallback)
{
    try {
        setCore(new HNerovaCore(sessionCallback, faceCallback, notifyCallback));
    } catch (...) {
        setCore(nullptr);
        return NV_ERR_INIT;
    }
    const int result = core->Initialise();
    reportDeliveryProblem();
    endCoreAtExitOnce();
    return result;
}

// The core's objects would belong to a thread whose loop, if it has one,
// is not the one the library's application object and events live on:
// nothing would ever be delivered. No core exists yet to log through, so
// the line goes through the installation's Log group.
int refuseOtherThread()
{
    const InstallPaths paths = InstallPaths::current();
    QSettings settings(paths.configFile, QSettings::IniFormat);
    const LogGroup logGroup = LogGroup::read(settings, paths.logDir);
    logGroup.apply();
    NerovaLog::problem(logGroup.loggerName,
                       QStringLiteral("NV_Init called on another thread than the one that loaded the library: "
                                      "refused with %1. Load the library and call every function on the thread "
                                      "that runs the host's GLib main loop")
                           .arg(NV_ERR_THREAD));
    return NV_ERR_THREAD;
}

} // namespace

extern "C" {

NV_API int NV_CALL NV_Init(NV_SessionCallback sessionCallback, NV_FaceCallback faceCallback,
                           NV_NotifyCallback notifyCallback)
{
    if (!sessionCallback || !faceCallback || !notifyCallback)
        return NV_ERR_INIT;
    return guarded(
        [&] {
            if (forwardedToHostThread([] { core->Initialise(); }))
                return NV_OK;
            if (core)
                return core->Initialise();
            if (!HostAttachment::isLoadingThread())
                return refuseOtherThread();
            return createCore(sessionCallback, faceCallback, notifyCallback);
        },
        NV_ERR_INIT);
}

NV_API int NV_CALL NV_Uninit(void)
{
    return guarded(
        [] {
            if (forwardedToHostThread([] { NV_Uninit(); }))
                return NV_OK;
            if (!core)
                return NV_OK;
            HNerovaCore *doomed = core;
            setCore(nullptr);
            doomed->Retire();
            // Inside a host callback the core's own code is still on the
            // stack below the host: it goes once that has returned.
            if (NerovaBase::isInsideHostCallback())
                doomed->deleteLater();
            else
                delete doomed;
            return NV_OK;
        },
        NV_OK);
}

NV_API int NV_CALL NV_Start(void)
{
    return guarded(
        [] {
            if (forwardedToHostThread([] { NV_Start(); }))
                return NV_OK;
            return core ? core->Start() : NV_ERR_NOT_INIT;
        },
        NV_ERR_NOT_INIT);
}

NV_API int NV_CALL NV_Stop(void)
{
    return guarded(
        [] {
            if (forwardedToHostThread([] { NV_Stop(); }))
                return NV_OK;
            return core ? core->Stop() : NV_ERR_NOT_INIT;
        },
        NV_ERR_NOT_INIT);
}

// A null text counts as empty, which the core refuses with 6005.
NV_API int NV_CALL NV_Login(const char *userName, const char *password)
{
    return guarded(
        [&] {
            const QByteArray user(userName ? userName : "");
            const QByteArray secret(password ? password : "");
            if (forwardedToHostThread([user, secret] { NV_Login(user.constData(), secret.constData()); }))
                return NV_OK;
            if (!core)
                return NV_ERR_NOT_INIT;
            return core->Login(user, secret);
        },
        NV_ERR_NOT_INIT);
}

NV_API int NV_CALL NV_Logout(void)
{
    return guarded(
        [] {
            if (forwardedToHostThread([] { NV_Logout(); }))
                return NV_OK;
            return core ? core->Logout() : NV_ERR_NOT_INIT;
        },
        NV_ERR_NOT_INIT);
}

NV_API int NV_CALL NV_ReportData(const wchar_t *data)
{
    return guarded(
        [&] {
            const QString text = data ? QString::fromWCharArray(data) : QString();
            // On any thread the trade is kept before the call returns; the
            // lock keeps the core alive meanwhile.
            std::lock_guard<std::mutex> lock(coreMutex);
            return core ? core->ReportData(text) : NV_ERR_NOT_INIT;
        },
        NV_ERR_NOT_INIT);
}

NV_API const char *NV_CALL NV_GetVersion(void)
{
    return version;
}

} // extern "C"
