#include "InstallDir.h"
#include "NerovaSimpleTool.h"
#include "WizardStartup.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    WizardStartup::prepareWindowSystem();
    QApplication app(argc, argv);
    QTranslator translator;
    WizardStartup::prepare(InstallDir::path(), translator);

    auto *window = new NerovaSimpleTool;
    window->showNormal();
    const int exitCode = app.exec();
    delete window;
    return exitCode;
}
