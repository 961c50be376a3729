#pragma once

#include <functional>

// Waits while the GUI thread keeps dispatching its events, so that windows
// repaint and can be closed in the meantime. It does not run a nested
// QEventLoop: once the application has been told to quit, such a loop would
// return at once, and the waits must still last their time.
class EventWait
{
public:
    // Returns when done() holds or after timeoutMs; the result is done().
    static bool until(const std::function<bool()> &done, int timeoutMs);
};
