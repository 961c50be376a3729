#pragma once

#include <QString>

// The installation directory both programs work in: the directory of the
// running executable, or the directory named by NEROVA_HOME when it is set.
// Returned without a trailing slash, absolute: a relative NEROVA_HOME is
// resolved against the current directory of its first use, once.
class InstallDir
{
public:
    static QString path();
};
