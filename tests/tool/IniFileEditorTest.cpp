#include "IniFileEditor.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

// What QSettings reads for a key from this text.
QString readBack(const QByteArray &text, const QString &key)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("t.ini"));
    file.open(QIODevice::WriteOnly);
    file.write(text);
    file.close();
    QSettings settings(file.fileName(), QSettings::IniFormat);
    return settings.value(key).toString();
}

} // namespace

TEST(IniFileEditor, ValuesReadBackExactlyThroughQSettings)
{
    const QStringList values = {
        "", "12345", " 12 34 ", "a;b", "a,b", "k=v", "say \"hi\"", "back\\slash",
        QString::fromUtf8("门店 7"), QString::fromUtf8("é1a"), "@ByteArray(x)", "line\nbreak", "\t"};
    for (const QString &value : values) {
        IniFileEditor editor("[Nerova]\nDeviceId=old\n");
        editor.setValue("Nerova/DeviceId", value);
        EXPECT_EQ(readBack(editor.text(), "Nerova/DeviceId"), value) << editor.text().constData();
    }
}

TEST(IniFileEditor, OnlyTheValueOfTheKeyChanges)
{
    const QByteArray before =
        "; installer's file\r\n"
        "[Face]\r\n"
        "FaceDevice = vid_1&pid_2 ; chosen camera\r\n"
        "Name=\"quoted; value\"\r\n"
        "Long=one\\\r\n"
        "FaceDevice=two\r\n"
        "[Nerova]\r\n"
        "Other=\xe4\xb8\xad\r\n";
    IniFileEditor editor(before);
    editor.setValue("Face/FaceDevice", "0c45-6366");
    EXPECT_EQ(editor.text(), QByteArray(before).replace("vid_1&pid_2", "0c45-6366"));
    // The escaped line end carries "FaceDevice=two" into the value of Long,
    // so it is not an entry of its own and stays as it was.
    EXPECT_EQ(readBack(editor.text(), "Face/FaceDevice"), "0c45-6366");
    EXPECT_EQ(readBack(editor.text(), "Face/Name"), "quoted; value");
}

TEST(IniFileEditor, EveryEntryOfTheKeyIsSetAndMissingOnesAreAdded)
{
    IniFileEditor editor("[Probe]\nProbeDevice=1-2\n[Face]\nProbeDevice=x\n[Probe]\nProbeDevice=3-4\n");
    editor.setValue("Probe/ProbeDevice", "5-6");
    EXPECT_EQ(editor.text(), QByteArray("[Probe]\nProbeDevice=5-6\n[Face]\nProbeDevice=x\n[Probe]\nProbeDevice=5-6\n"));

    IniFileEditor missing("[Face]\nFaceEnabled=false\n\n; trailing comment\n[Probe]\nProbeEnabled=true");
    missing.setValue("Face/FaceDevice", "cam");
    missing.setValue("Probe/ProbeDevice", "1-2");
    missing.setValue("Nerova/DeviceId", "7");
    EXPECT_EQ(missing.text(), QByteArray("[Face]\nFaceEnabled=false\nFaceDevice=cam\n\n; trailing comment\n"
                                         "[Probe]\nProbeEnabled=true\nProbeDevice=1-2\n\n[Nerova]\nDeviceId=7\n"));
}

// QSettings skips a UTF-8 byte-order mark: the first section is the group,
// not a second one, and the mark stays first in the file.
TEST(IniFileEditor, ByteOrderMarkIsKeptAndTheFirstSectionFound)
{
    const QByteArray mark = "\xef\xbb\xbf";
    IniFileEditor editor(mark + "[Nerova]\r\nDeviceId=old\r\n[Face]\r\nFaceEnabled=true\r\n");
    editor.setValue("Nerova/DeviceId", "new");
    editor.setValue("Nerova/Name", QString::fromUtf8("门店"));
    EXPECT_EQ(editor.text(), mark + "[Nerova]\r\nDeviceId=new\r\nName=\\x95e8\\x5e97\r\n[Face]\r\nFaceEnabled=true\r\n");
    EXPECT_EQ(readBack(editor.text(), "Nerova/DeviceId"), "new");
    EXPECT_EQ(readBack(editor.text(), "Nerova/Name"), QString::fromUtf8("门店"));

    IniFileEditor onlyTheMark(mark);
    onlyTheMark.setValue("Nerova/DeviceId", "7");
    EXPECT_EQ(onlyTheMark.text(), mark + "[Nerova]\nDeviceId=7\n");
}
