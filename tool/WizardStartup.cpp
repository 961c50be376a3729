#include "WizardStartup.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QResource>
#include <QStyleFactory>
#include <QTranslator>
#include <QtGlobal>

// The wizard draws widgets only. With OpenGL, Qt's X11 platform loads the
// machine's OpenGL driver as it starts (Mesa's software one is tens of
// megabytes, with LLVM), a driver that can fail on a store's computer,
// and that Mesa unloads again at exit, with the allocations it keeps.
// QT_XCB_GL_INTEGRATION set by whoever starts the wizard still decides.
void WizardStartup::prepareWindowSystem()
{
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

void WizardStartup::prepare(const QString &appDir, QTranslator &translator)
{
    QCoreApplication::addLibraryPath(appDir);
    QResource::registerResource(QString("%1/skin/style.skin").arg(appDir), QString());
    QApplication::setStyle(QStyleFactory::create("fusion"));
    applyFont(QString("%1/font/wqy-microhei.ttc").arg(appDir));
    if (translator.load(QString("%1/lang/zh-CN.lng").arg(appDir)))
        QCoreApplication::installTranslator(&translator);
}

void WizardStartup::applyFont(const QString &fontFile)
{
    const int id = QFontDatabase::addApplicationFont(fontFile);
    if (id < 0)
        return;
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (!families.isEmpty())
        QApplication::setFont(QFont(families.first()));
}
