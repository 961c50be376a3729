#pragma once

#include <QString>

// Attachment of the library to the host process that loads it.
//
// A Qt host is left alone. Into any other host the library brings its own
// QCoreApplication and a GLib source on the loading thread's main context
// that flushes Qt's posted events each time the host iterates that context,
// and it pins itself in memory so that the host's dlclose() never unmaps
// code that the application object, the source and the core still use.
class HostAttachment
{
public:
    // Run by the library's load and unload handlers.
    static void attach();
    static void detach();

    // True when the library found no Qt application object at load time and
    // made its own.
    static bool isBootstrapped();

    // True on the thread that loaded the library: the one whose loop
    // delivers the library's events, and so the one that may create a core.
    static bool isLoadingThread();

    // Empty when the host can deliver the library's events; otherwise the
    // reason it cannot (a bootstrapped application whose event dispatcher
    // is not GLib-based never sees the host's loop).
    static QString deliveryProblem();
};
