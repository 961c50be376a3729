#pragma once

#include "NerovaSimpleTool.h"
#include "TestInstall.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// A temporary installation and the real wizard window on it.
class WizardFixture : public ::testing::Test
{
protected:
    struct Box
    {
        QString title;
        QString text;
        QStringList buttons;
        QString style;
    };

    void open()
    {
        window = std::make_unique<NerovaSimpleTool>();
        window->show();
    }

    template<typename T>
    T *child(const char *name) const
    {
        T *found = window->findChild<T *>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char *label) const { return child<QLabel>(label)->text(); }
    void click(const char *button) const { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); }

    // Finish on the test page ends the application's event loop with 0;
    // the window is then destroyed, as at the program's end.
    void finish()
    {
        QTimer::singleShot(0, [this] { click("btnNext"); });
        EXPECT_EQ(QApplication::exec(), 0);
        window.reset();
    }

    // Clicks a button while the next message box is shown, on the button
    // with this text (or closes it with Escape when the text is empty), and
    // tells what the box showed.
    Box clickExpectingBox(const char *button, const QString &answer)
    {
        return expectingBox([this, button] { click(button); }, answer);
    }
    // The same for any action that shows a message box.
    Box expectingBox(const std::function<void()> &action, const QString &answer)
    {
        Box seen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll.stop();
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.style = box->styleSheet();
            for (QAbstractButton *b : box->buttons())
                seen.buttons << b->text();
            for (QAbstractButton *b : box->buttons())
                if (b->text() == answer)
                    b->click();
            if (answer.isEmpty())
                QTest::keyClick(box, Qt::Key_Escape);
        });
        poll.start(10);
        action();
        seen.buttons.sort();
        return seen;
    }

    TestInstall install;
    std::unique_ptr<NerovaSimpleTool> window;
};
