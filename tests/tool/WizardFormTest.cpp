// The form as uic builds it: widget tree, object names, geometry, layout
// settings, size policies and the Chinese texts.
#include "ui_nerovasimpletool.h"

#include <QDialog>

#include <gtest/gtest.h>

namespace {

struct Node
{
    const char *name;
    const char *className;
    const char *container; // the widget a layout is set on, or the layout an item sits in
    int position;          // the item's place in its layout; -1 for a layout set on a widget
    const char *text;      // nullptr where there is none
};

const Node kTree[] = {
    {"wgtTest", "QWidget", "NerovaSimpleTool", -1, nullptr},
    {"verticalLayout_6", "QVBoxLayout", "wgtTest", -1, nullptr},
    {"verticalLayout_2", "QVBoxLayout", "verticalLayout_6", 0, nullptr},
    {"widget", "QWidget", "verticalLayout_2", 0, nullptr},
    {"horizontalLayout_11", "QHBoxLayout", "widget", -1, nullptr},
    {"verticalLayout_3", "QVBoxLayout", "horizontalLayout_11", 0, nullptr},
    {"verticalLayout_4", "QVBoxLayout", "horizontalLayout_11", 1, nullptr},
    {"verticalLayout_5", "QVBoxLayout", "horizontalLayout_11", 2, nullptr},
    {"lblPic1", "QLabel", "verticalLayout_3", 0, ""},
    {"lblRet1", "QLabel", "verticalLayout_3", 1, ""},
    {"lblPic2", "QLabel", "verticalLayout_4", 0, ""},
    {"lblRet2", "QLabel", "verticalLayout_4", 1, ""},
    {"lblPic3", "QLabel", "verticalLayout_5", 0, ""},
    {"lblRet3", "QLabel", "verticalLayout_5", 1, ""},
    {"lblCascades", "QLabel", "verticalLayout_6", 1, ""},
    {"lblTest", "QLabel", "verticalLayout_6", 2, "网络：未知\n探针：未知"},
    {"wgtConfig", "QWidget", "NerovaSimpleTool", -1, nullptr},
    {"verticalLayout_7", "QVBoxLayout", "wgtConfig", -1, nullptr},
    {"verticalLayout", "QVBoxLayout", "verticalLayout_7", 0, nullptr},
    {"horizontalLayout_3", "QHBoxLayout", "verticalLayout", 0, nullptr},
    {"lblCode", "QLabel", "horizontalLayout_3", 0, "门店编号"},
    {"edtCodeValue", "QLineEdit", "horizontalLayout_3", 1, ""},
    {"horizontalLayout_7", "QHBoxLayout", "verticalLayout", 1, nullptr},
    {"lblFaceDevice", "QLabel", "horizontalLayout_7", 0, "人脸设备"},
    {"cmbFaceDevice", "QComboBox", "horizontalLayout_7", 1, nullptr},
    {"btnFaceDeviceRefresh", "QPushButton", "horizontalLayout_7", 2, "刷新"},
    {"horizontalLayout_2", "QHBoxLayout", "verticalLayout", 2, nullptr},
    {"label_9", "QLabel", "horizontalLayout_2", 0, "探针设备"},
    {"cmbProbeDevice", "QComboBox", "horizontalLayout_2", 1, nullptr},
    {"btnRefreshProbeDevice", "QPushButton", "horizontalLayout_2", 2, "刷新"},
    {"wgtButtons", "QWidget", "NerovaSimpleTool", -1, nullptr},
    {"horizontalLayout", "QHBoxLayout", "wgtButtons", -1, nullptr},
    {"btnTest", "QPushButton", "horizontalLayout", 1, "测试"},
    {"btnPrevious", "QPushButton", "horizontalLayout", 2, "上一步"},
    {"btnNext", "QPushButton", "horizontalLayout", 3, "下一步"},
};

class WizardForm : public ::testing::Test
{
protected:
    WizardForm() { ui.setupUi(&dialog); }

    template<typename T = QObject>
    T *find(const char *name) const
    {
        if (dialog.objectName() == name)
            return qobject_cast<T *>(const_cast<QDialog *>(&dialog));
        return dialog.findChild<T *>(name);
    }

    QDialog dialog;
    Ui::NerovaSimpleTool ui;
};

} // namespace

TEST_F(WizardForm, TreeNamesPlacesAndTexts)
{
    for (const Node &node : kTree) {
        SCOPED_TRACE(node.name);
        QObject *object = find(node.name);
        ASSERT_NE(object, nullptr);
        EXPECT_STREQ(object->metaObject()->className(), node.className);
        QObject *container = find(node.container);
        ASSERT_NE(container, nullptr);
        if (auto *widget = qobject_cast<QWidget *>(container)) {
            if (node.position < 0 && qobject_cast<QLayout *>(object))
                EXPECT_EQ(widget->layout(), object);
            else
                EXPECT_EQ(qobject_cast<QWidget *>(object)->parentWidget(), widget);
        } else {
            QLayoutItem *item = qobject_cast<QLayout *>(container)->itemAt(node.position);
            ASSERT_NE(item, nullptr);
            EXPECT_TRUE(item->widget() == object || item->layout() == object);
        }
        if (node.text) {
            const QVariant text = object->property("text");
            EXPECT_EQ(text.toString(), QString::fromUtf8(node.text));
        }
    }
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Kelmar配置向导"));
}

TEST_F(WizardForm, GeometryLayoutsAndPolicies)
{
    EXPECT_EQ(dialog.size(), QSize(837, 230));
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.font().family(), "WenQuanYi Micro Hei");
    EXPECT_EQ(dialog.styleSheet(), "*\n{    \n  font-family: \"WenQuanYi Micro Hei\";\n  font-size: 12px;\n  color: black; \n}");
    EXPECT_EQ(ui.wgtTest->geometry(), QRect(430, 10, 400, 180));
    EXPECT_EQ(ui.wgtConfig->geometry(), QRect(10, 10, 400, 180));
    EXPECT_EQ(ui.wgtButtons->geometry(), QRect(10, 190, 400, 41));

    EXPECT_EQ(ui.verticalLayout_6->spacing(), 5);
    EXPECT_EQ(ui.verticalLayout_6->contentsMargins(), QMargins(0, 0, 0, 0));
    EXPECT_EQ(ui.verticalLayout_2->contentsMargins(), QMargins(11, 0, 11, 0)); // an inner layout has no default margin
    EXPECT_EQ(ui.verticalLayout_7->contentsMargins(),
              QMargins(dialog.style()->pixelMetric(QStyle::PM_LayoutLeftMargin), 0,
                       dialog.style()->pixelMetric(QStyle::PM_LayoutRightMargin), 0));
    EXPECT_EQ(ui.horizontalLayout->spacing(), 5);
    EXPECT_EQ(ui.horizontalLayout->contentsMargins(), QMargins(0, 0, 0, 0));
    QSpacerItem *spacer = ui.horizontalLayout->itemAt(0)->spacerItem();
    ASSERT_NE(spacer, nullptr);
    EXPECT_EQ(spacer->sizeHint(), QSize(40, 20));
    EXPECT_EQ(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    EXPECT_EQ(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    EXPECT_EQ(ui.lblTest->indent(), 20);

    const auto policy = [](QWidget *w) {
        return qMakePair(w->sizePolicy().horizontalPolicy(), w->sizePolicy().verticalPolicy());
    };
    EXPECT_EQ(policy(ui.widget), qMakePair(QSizePolicy::Preferred, QSizePolicy::Fixed));
    EXPECT_EQ(policy(ui.lblFaceDevice), qMakePair(QSizePolicy::Fixed, QSizePolicy::Preferred));
    EXPECT_EQ(policy(ui.label_9), qMakePair(QSizePolicy::Fixed, QSizePolicy::Preferred));
    EXPECT_EQ(policy(ui.btnFaceDeviceRefresh), qMakePair(QSizePolicy::Fixed, QSizePolicy::Fixed));
    EXPECT_EQ(policy(ui.btnRefreshProbeDevice), qMakePair(QSizePolicy::Fixed, QSizePolicy::Fixed));
    for (QLabel *picture : {ui.lblPic1, ui.lblPic2, ui.lblPic3}) {
        EXPECT_EQ(policy(picture), qMakePair(QSizePolicy::Fixed, QSizePolicy::Fixed));
        EXPECT_EQ(picture->minimumSize(), QSize(112, 100));
        EXPECT_EQ(picture->frameShape(), QFrame::Panel);
        EXPECT_EQ(picture->frameShadow(), QFrame::Sunken);
        EXPECT_TRUE(picture->hasScaledContents());
        EXPECT_EQ(picture->alignment(), Qt::AlignCenter);
    }
    for (QLabel *verdict : {ui.lblRet1, ui.lblRet2, ui.lblRet3})
        EXPECT_EQ(verdict->alignment(), Qt::AlignCenter);
}
