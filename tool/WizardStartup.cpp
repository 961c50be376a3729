#include "WizardStartup.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QResource>
#include <QStyleFactory>
#include <QTranslator>

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
