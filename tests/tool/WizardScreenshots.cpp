// Renders both pages of the wizard window to PNG files, in a temporary
// installation with the Chinese font and translation, the cascades and a
// virtual camera (the test page after a test has run):
//   wizard_screenshots <output dir> <camera image> <translation file>
// scripts/wizard-screenshots.sh runs it on the offscreen platform.
#include "CascadeFiles.h"
#include "NerovaSimpleTool.h"
#include "WizardStartup.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>

#include <cstdio>

namespace {

void grab(QWidget &window, const QString &file)
{
    if (!window.grab().save(file))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <output dir> <camera image> <translation file>\n", argv[0]);
        return 2;
    }
    QTemporaryDir install;
    QDir root(install.path());
    for (const char *dir : {"conf", "font", "lang", "log"})
        root.mkpath(dir);
    QFile::copy("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", root.filePath("font/wqy-microhei.ttc"));
    QFile::copy(QString::fromLocal8Bit(argv[3]), root.filePath("lang/zh-CN.lng"));
    QFile::copy(NEROVA_SOURCE_DIR "/conf/default.ini", root.filePath("conf/default.ini"));
    const QString missing = installCascades(install.path());
    if (!missing.isEmpty())
        std::fprintf(stderr, "missing %s: the face test finds no face\n", qPrintable(missing));
    qputenv("NEROVA_HOME", install.path().toUtf8());
    qputenv("NEROVA_VIRTUAL_CAMERAS", QByteArray("USB Camera=").append(argv[2]));
    qputenv("NEROVA_VIRTUAL_SERIAL", QByteArray("/dev/null@1027-24577@Probe"));

    QApplication app(argc, argv);
    QTranslator translator;
    WizardStartup::prepare(install.path(), translator);
    NerovaSimpleTool window;
    window.show();
    window.findChild<QLineEdit *>("edtCodeValue")->setText("SH-0012");
    window.findChild<QComboBox *>("cmbFaceDevice")->setCurrentIndex(1);
    QComboBox *probes = window.findChild<QComboBox *>("cmbProbeDevice");
    probes->setCurrentIndex(probes->count() - 1);
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    grab(window, out + "/wizard-config-page.png");
    window.findChild<QPushButton *>("btnNext")->click();
    // The test page as after a test: the camera's three pictures and verdicts.
    window.findChild<QPushButton *>("btnTest")->click();
    grab(window, out + "/wizard-test-page.png");
    return 0;
}
