// The eight exported functions: thin forwarders to the one core object.
// No C++ exception may leave them.
#include "HNerovaCore.h"
#include "nerova.h"

#include <QString>

namespace {

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

} // namespace

extern "C" {

NV_API int NV_CALL NV_Init(NV_SessionCallback sessionCallback, NV_FaceCallback faceCallback,
                           NV_NotifyCallback notifyCallback)
{
    if (!sessionCallback || !faceCallback || !notifyCallback)
        return NV_ERR_INIT;
    return guarded(
        [&] {
            if (core)
                return core->Initialise();
            try {
                core = new HNerovaCore(sessionCallback, faceCallback, notifyCallback);
            } catch (...) {
                core = nullptr;
                return NV_ERR_INIT;
            }
            return core->Initialise();
        },
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
    return "1.0.10";
}

} // extern "C"
