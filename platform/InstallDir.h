#pragma once

#include <QString>

// The installation directory both programs work in: the directory of the
// running executable, or the directory named by NEROVA_HOME when it is set.
// Returned without a trailing slash.
class InstallDir
{
public:
    static QString path();
};
