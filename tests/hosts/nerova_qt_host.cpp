// nerova_qt_host - an example Qt host: it creates its QCoreApplication
// first and only then loads libnerova.so with dlopen(), so the library
// finds the host's application and uses the host's event loop as it is.
// Reads a scenario of commands from standard input while the loop runs
// (see host_commands.h) and reports after load, NV_Init and NV_Uninit
// whether the application object is still its own.
//
//   nerova_qt_host [path/to/libnerova.so] < scenario
#include "host_commands.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <stdexcept>

namespace {

QCoreApplication *ownApplication = nullptr;

void resumeAfter(HostSession *session, unsigned ms)
{
    QTimer::singleShot(static_cast<int>(ms), [session] { host_session_resume(session); });
}

void quit(HostSession *)
{
    QCoreApplication::quit();
}

// A C++ host whose face callback fails after it has taken the text.
void throwingFace(const wchar_t *text)
{
    host_face_callback(3, text);
    throw std::runtime_error("the host's face callback failed");
}

void reportApplication(HostSession *, const char *command)
{
    host_print_flag("app", command, "own", QCoreApplication::instance() == ownApplication);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ownApplication = &app;

    static HostSession session;
    session.resumeAfter = resumeAfter;
    session.quit = quit;
    session.afterCommand = reportApplication;
    session.throwingFace = throwingFace;
    if (host_session_open(&session, host_library_path(argc, argv)) != 0)
        return 2;

    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        if (!host_session_read(&session, 0))
            input.setEnabled(false);
        host_session_run(&session);
    });
    // quit() before exec() would be lost: the first commands run inside the loop.
    QTimer::singleShot(0, [] { host_session_run(&session); });
    const int status = app.exec();
    reportApplication(&session, "exit");
    return status;
}
