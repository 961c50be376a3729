// The eight exported functions: thin forwarders to the one core object.
// No C++ exception may leave them.
#include "HNerovaCore.h"
#include "HostAttachment.h"
#include "NerovaBase.h"
#include "nerova.h"

#include <QString>

namespace {

const char version[] = "1.0.10";

HNerovaCore *core = nullptr;

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
        core = new HNerovaCore(sessionCallback, faceCallback, notifyCallback);
    } catch (...) {
        core = nullptr;
        return NV_ERR_INIT;
    }
    const int result = core->Initialise();
    reportDeliveryProblem();
    return result;
}

} // namespace

extern "C" {

NV_API int NV_CALL NV_Init(NV_SessionCallback sessionCallback, NV_FaceCallback faceCallback,
                           NV_NotifyCallback notifyCallback)
{
    if (!sessionCallback || !faceCallback || !notifyCallback)
        return NV_ERR_INIT;
    return guarded(
        [&] { return core ? core->Initialise() : createCore(sessionCallback, faceCallback, notifyCallback); },
        NV_ERR_INIT);
}

NV_API int NV_CALL NV_Uninit(void)
{
    return guarded(
        [] {
            if (!core)
                return NV_OK;
            core->Stop();
            HNerovaCore *doomed = core;
            core = nullptr;
            delete doomed;
            return NV_OK;
        },
        NV_OK);
}

NV_API int NV_CALL NV_Start(void)
{
    return guarded([] { return core ? core->Start() : NV_ERR_NOT_INIT; }, NV_ERR_NOT_INIT);
}

NV_API int NV_CALL NV_Stop(void)
{
    return guarded([] { return core ? core->Stop() : NV_ERR_NOT_INIT; }, NV_ERR_NOT_INIT);
}

// A null text counts as empty, which the core refuses with 6005.
NV_API int NV_CALL NV_Login(const char *userName, const char *password)
{
    return guarded(
        [&] {
            if (!core)
                return NV_ERR_NOT_INIT;
            return core->Login(QByteArray(userName ? userName : ""), QByteArray(password ? password : ""));
        },
        NV_ERR_NOT_INIT);
}

NV_API int NV_CALL NV_Logout(void)
{
    return guarded([] { return core ? core->Logout() : NV_ERR_NOT_INIT; }, NV_ERR_NOT_INIT);
}

NV_API int NV_CALL NV_ReportData(const wchar_t *data)
{
    return guarded(
        [&] {
            if (!core)
                return NV_ERR_NOT_INIT;
            return core->ReportData(data ? QString::fromWCharArray(data) : QString());
        },
        NV_ERR_NOT_INIT);
}

NV_API const char *NV_CALL NV_GetVersion(void)
{
    return version;
}

} // extern "C"
