#pragma once

#include <QString>

class QTranslator;

// The start of the wizard program. Before the application object exists:
// the window system without OpenGL. After: Qt plug-ins looked up in the
// installation directory, the skin resource, the "fusion" style, the
// Chinese font and the translation. A missing piece leaves Qt's default in
// place, silently.
class WizardStartup
{
public:
    static void prepareWindowSystem();
    static void prepare(const QString &appDir, QTranslator &translator);

private:
    static void applyFont(const QString &fontFile);
};
