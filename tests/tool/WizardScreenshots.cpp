// Renders the wizard window to PNG files, each in a temporary installation
// with the Chinese font and translation:
//   wizard-config-page.png      the configuration page, devices chosen;
//   wizard-test-page.png        the test page after a test, all cascades
//                               installed, the camera showing <camera image>;
//   wizard-fresh-installation.png  a test on a fresh installation: Debian's
//                               cascades only, no server address, a drawn
//                               camera picture;
//   wizard-network-failure.png  a test against a server that refuses.
//   wizard_screenshots <output dir> <camera image> <translation file>
// scripts/wizard-screenshots.sh runs it on the offscreen platform.
#include "CascadeFiles.h"
#include "NerovaSimpleTool.h"
#include "WizardStartup.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTranslator>

#include <cstdio>
#include <functional>

namespace {

struct Scene
{
    bool licensedCascades = true;
    QString server;         // Server/Server; empty for none
    QString cameraImage;
};

void grab(QWidget &window, const QString &file)
{
    if (!window.grab().save(file))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
}

// A camera picture made here, so that no test image goes into the pictures.
QString drawnCameraPicture(const QString &dir)
{
    QImage picture(640, 480, QImage::Format_RGB32);
    picture.fill(QColor(0x8a, 0x94, 0x9e));
    QPainter painter(&picture);
    painter.setBrush(QColor(0xc8, 0xa0, 0x82));
    painter.drawEllipse(QPoint(320, 230), 110, 140);
    painter.setBrush(QColor(0x40, 0x30, 0x28));
    painter.drawEllipse(QPoint(280, 200), 16, 10);
    painter.drawEllipse(QPoint(360, 200), 16, 10);
    painter.drawRect(300, 300, 40, 8);
    painter.end();
    const QString path = dir + "/drawn-camera.png";
    picture.save(path);
    return path;
}

quint16 refusingPort()
{
    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost);
    return listener.serverPort();
}

void withWindow(const Scene &scene, const QString &translation, const std::function<void(NerovaSimpleTool &)> &use)
{
    QTemporaryDir install;
    QDir root(install.path());
    for (const char *dir : {"conf", "font", "lang", "log"})
        root.mkpath(dir);
    QFile::copy("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", root.filePath("font/wqy-microhei.ttc"));
    QFile::copy(translation, root.filePath("lang/zh-CN.lng"));
    QFile config(root.filePath("conf/default.ini"));
    QFile shipped(NEROVA_SOURCE_DIR "/conf/default.ini");
    if (shipped.open(QIODevice::ReadOnly) && config.open(QIODevice::WriteOnly))
        config.write(shipped.readAll().replace("Server=\n", ("Server=" + scene.server + "\n").toUtf8()));
    config.close();
    const QString missing = scene.licensedCascades ? installCascades(install.path())
                                                   : installDebianCascades(install.path());
    if (!missing.isEmpty())
        std::fprintf(stderr, "missing %s: the face test finds no face\n", qPrintable(missing));
    qputenv("NEROVA_HOME", install.path().toUtf8());
    const QString camera = scene.cameraImage.isEmpty() ? drawnCameraPicture(install.path()) : scene.cameraImage;
    qputenv("NEROVA_VIRTUAL_CAMERAS", ("USB Camera=" + camera).toUtf8());
    qputenv("NEROVA_VIRTUAL_SERIAL", QByteArray("/dev/null@1027-24577@Probe"));

    QTranslator translator;
    WizardStartup::prepare(install.path(), translator);
    NerovaSimpleTool window;
    window.show();
    window.findChild<QLineEdit *>("edtCodeValue")->setText("SH-0012");
    window.findChild<QComboBox *>("cmbFaceDevice")->setCurrentIndex(1);
    QComboBox *probes = window.findChild<QComboBox *>("cmbProbeDevice");
    probes->setCurrentIndex(probes->count() - 1);
    use(window);
    QCoreApplication::removeTranslator(&translator);
}

// The test page as after a test: the camera's pictures, verdicts and results.
void testPage(NerovaSimpleTool &window, const QString &file)
{
    window.findChild<QPushButton *>("btnNext")->click();
    window.findChild<QPushButton *>("btnTest")->click();
    grab(window, file);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <output dir> <camera image> <translation file>\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString translation = QString::fromLocal8Bit(argv[3]);
    QDir().mkpath(out);

    Scene installed;
    installed.cameraImage = QString::fromLocal8Bit(argv[2]);
    withWindow(installed, translation, [&](NerovaSimpleTool &window) {
        grab(window, out + "/wizard-config-page.png");
        testPage(window, out + "/wizard-test-page.png");
    });
    Scene fresh;
    fresh.licensedCascades = false;
    withWindow(fresh, translation,
               [&](NerovaSimpleTool &window) { testPage(window, out + "/wizard-fresh-installation.png"); });
    Scene refusing;
    refusing.server = QString("http://127.0.0.1:%1").arg(refusingPort());
    withWindow(refusing, translation,
               [&](NerovaSimpleTool &window) { testPage(window, out + "/wizard-network-failure.png"); });
    return 0;
}
