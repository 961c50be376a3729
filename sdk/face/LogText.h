#pragma once

#include <QString>

// Request and reply texts made fit for a log line: the client secret is
// masked, and long Base64 runs (face images) are cut to a short prefix
// with their length.
namespace LogText {

QString safe(const QString &text);

} // namespace LogText
