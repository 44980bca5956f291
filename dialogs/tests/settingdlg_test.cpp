#include "fakeservices.h"
#include "language.h"
#include "outportdlg.h"
#include "outportsetdlg.h"
#include "settingdlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>

#include <gtest/gtest.h>

namespace {

// A dialog filled the way the Settings command fills it from a new Julia set.
class SettingDialog : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(m_dialog.m_iterFormula.Compile("z = z * z + C;", error), 0);
        m_dialog.m_iterFormula.SetConstant(0, { -0.78, -0.15 });
        ASSERT_EQ(m_dialog.m_termFormula.Compile("norm(z) > 100;", error), 0);
        ASSERT_EQ(m_dialog.m_colorFormula.Compile("V_iter_n / V_iter_max;", error), 0);
        m_dialog.m_nMaxIter = 256;
        m_dialog.m_dEditStep = 0.01;
        m_dialog.m_dMapDX = 1;
        m_dialog.m_dMapDY = 1;
        m_dialog.m_dMapStretch = 1;
        m_dialog.InitDialog();
    }

    QLineEdit* Line(int id) { return static_cast<QLineEdit*>(m_dialog.ControlById(id)); }
    QPlainTextEdit* Text(int id) { return static_cast<QPlainTextEdit*>(m_dialog.ControlById(id)); }
    int Page() { return m_dialog.Tabs()->currentIndex(); }
    void SelectConstant(int row) { m_dialog.Constants()->setCurrentRow(row); }

    CFakeServices m_services;
    CSettingDlg m_dialog { m_services };
};

TEST_F(SettingDialog, Initialisation)
{
    EXPECT_EQ(m_dialog.windowTitle(), QStringLiteral(u"参数设置"));
    ASSERT_EQ(m_dialog.Tabs()->count(), 4);
    EXPECT_EQ(m_dialog.Tabs()->tabText(0), QStringLiteral(u"迭代公式"));
    EXPECT_EQ(m_dialog.Tabs()->tabText(3), QStringLiteral(u"其他"));
    EXPECT_EQ(Page(), 0);
    EXPECT_EQ(Text(CSettingDlg::kIterText)->toPlainText(), QStringLiteral("z = z * z + C;"));
    EXPECT_EQ(Line(CSettingDlg::kMaxIter)->text(), QStringLiteral("256"));
    EXPECT_EQ(Line(CSettingDlg::kEditStep)->text(), QStringLiteral("0.01"));
    EXPECT_FALSE(Line(CSettingDlg::kConstRe)->isEnabled()) << "no constant selected yet";
    EXPECT_EQ(m_dialog.Constants()->count(), 0) << "the list is filled on entering page 3";
    // Page 0 shows the iteration formula only.
    EXPECT_FALSE(Text(CSettingDlg::kIterText)->isHidden());
    EXPECT_TRUE(Text(CSettingDlg::kTermText)->isHidden());
    EXPECT_TRUE(Line(CSettingDlg::kMaxIter)->isHidden());
    EXPECT_FALSE(m_dialog.ControlById(CSettingDlg::kOk)->isHidden());
}

TEST_F(SettingDialog, PageThreeListsTheIterationConstants)
{
    Text(CSettingDlg::kIterText)->setPlainText(QStringLiteral("z = z * z * Ca + Cb;"));
    Text(CSettingDlg::kTermText)->setPlainText(QStringLiteral("norm(z) > Climit;"));
    m_dialog.SelectPage(3);
    EXPECT_EQ(Page(), 3);
    ASSERT_EQ(m_dialog.Constants()->count(), 2) << "only the iteration formula's constants";
    EXPECT_EQ(m_dialog.Constants()->item(1)->text(), QStringLiteral("Cb"));
    EXPECT_FALSE(Line(CSettingDlg::kMaxIter)->isHidden());
    EXPECT_TRUE(Text(CSettingDlg::kIterText)->isHidden());
    EXPECT_FALSE(Line(CSettingDlg::kConstRe)->isEnabled());
}

TEST_F(SettingDialog, FormulaErrorsSendTheUserToTheirPage)
{
    // The message, then where and what; the cursor at the fault with the offending text selected.
    const QString missing
        = QStringLiteral(u"终止条件公式错误:缺少数据\n第 1 行，第 9 列：运算符“>”缺少运算数");
    Text(CSettingDlg::kTermText)->setPlainText(QStringLiteral("norm(z) >"));
    m_dialog.SelectPage(2);
    m_dialog.SelectPage(3);
    EXPECT_EQ(m_services.Last(), missing);
    EXPECT_EQ(m_services.messages.back().icon, MessageIcon::Error);
    EXPECT_EQ(Page(), 1) << "a termination error on entering page 3 switches to page 1";
    EXPECT_EQ(m_dialog.m_nCurPage, 1);
    EXPECT_FALSE(Text(CSettingDlg::kTermText)->isHidden());
    EXPECT_EQ(Text(CSettingDlg::kTermText)->textCursor().position(), 8);
    EXPECT_EQ(Text(CSettingDlg::kTermText)->textCursor().selectedText(), QStringLiteral(">"));
    EXPECT_EQ(Text(CSettingDlg::kTermText)->extraSelections().size(), 1) << "marked";

    m_dialog.SelectPage(2);
    m_services.messages.clear();
    Text(CSettingDlg::kTermText)->setPlainText(QStringLiteral(u"（norm(z) >"));
    EXPECT_TRUE(Text(CSettingDlg::kTermText)->extraSelections().isEmpty()) << "an edit takes the mark away";
    Text(CSettingDlg::kTermText)->setPlainText(QStringLiteral(u"z =（norm(z) > 4）;"));
    EXPECT_FALSE(m_dialog.OnOk());
    EXPECT_EQ(m_services.Last(),
        QStringLiteral(u"终止条件公式错误:非法字符\n第 1 行，第 4 列：不能使用的字符“（”"));
    EXPECT_EQ(Page(), 2) << "on OK the dialog stays where it was";
    EXPECT_EQ(Text(CSettingDlg::kTermText)->textCursor().selectedText(), QStringLiteral(u"（"))
        << "positions in characters, not in the bytes the compiler counts";
    Text(CSettingDlg::kTermText)->setPlainText(QStringLiteral("norm(z) >"));
    EXPECT_NE(m_dialog.result(), QDialog::Accepted);

    Text(CSettingDlg::kIterText)->setPlainText(QStringLiteral("z1 = z1;"));
    m_dialog.SelectPage(3);
    EXPECT_EQ(m_services.Last(), QStringLiteral(u"迭代公式错误:未发现迭代变量")) << "no place to point at";
    EXPECT_EQ(Page(), 0);
    Text(CSettingDlg::kIterText)->setPlainText(QStringLiteral("z = z * z + C;"));
    Text(CSettingDlg::kTermText)->setPlainText(QStringLiteral("norm(z) > 4;"));
    Text(CSettingDlg::kColorText)->setPlainText(QStringLiteral("x"));
    m_dialog.SelectPage(3);
    EXPECT_EQ(m_services.Last(),
        QStringLiteral(u"取色公式错误:非法字符\n第 1 行，第 1 列：未知的名称“x”：变量名以 z 或 V 开头"));
    EXPECT_EQ(Page(), 2);
}

TEST_F(SettingDialog, ConstantsSurviveFailuresAndRenames)
{
    m_dialog.SelectPage(3);
    SelectConstant(0);
    EXPECT_EQ(Line(CSettingDlg::kConstRe)->text(), QStringLiteral("-0.78"));
    Line(CSettingDlg::kConstRe)->setText(QStringLiteral("1"));
    Line(CSettingDlg::kConstIm)->setText(QStringLiteral("2"));
    m_dialog.OnSaveConstant();
    EXPECT_EQ(m_dialog.m_iterFormula.GetConstant(0).re, 1);

    // A failed compilation happens on a scratch script: the working copies keep their constants.
    m_dialog.SelectPage(0);
    Text(CSettingDlg::kIterText)->setPlainText(QStringLiteral("z = z * z + C +"));
    m_dialog.SelectPage(3);
    EXPECT_EQ(Page(), 0);
    Text(CSettingDlg::kIterText)->setPlainText(QStringLiteral("z = z * z + Cnew + C;"));
    m_dialog.SelectPage(3);
    ASSERT_EQ(m_dialog.Constants()->count(), 2);
    EXPECT_EQ(m_dialog.Constants()->item(0)->text(), QStringLiteral("Cnew"));
    EXPECT_EQ(m_dialog.m_iterFormula.GetConstant(1).re, 1) << "C kept its saved value under a new slot";
    EXPECT_EQ(m_dialog.m_iterFormula.GetConstant(1).im, 2);
    EXPECT_EQ(m_dialog.m_iterFormula.GetConstant(0).re, 0);
}

TEST_F(SettingDialog, ATypedConstantNeedsSave)
{
    std::string error;
    ASSERT_EQ(m_dialog.m_iterFormula.Compile("z = z * Ca + Cb;", error), 0);
    m_dialog.m_iterFormula.SetConstant(0, { 3, 4 });
    m_dialog.InitDialog();
    m_dialog.SelectPage(3);
    SelectConstant(0);
    Line(CSettingDlg::kConstRe)->setText(QStringLiteral("5"));
    Line(CSettingDlg::kMaxIter)->setText(QStringLiteral("77"));
    SelectConstant(1); // selecting writes every field from the members: the typed texts are gone
    EXPECT_EQ(Line(CSettingDlg::kMaxIter)->text(), QStringLiteral("256"));
    SelectConstant(0);
    EXPECT_EQ(Line(CSettingDlg::kConstRe)->text(), QStringLiteral("3"));
    EXPECT_EQ(m_dialog.m_iterFormula.GetConstant(0).re, 3);
    Line(CSettingDlg::kConstRe)->setText(QStringLiteral("7"));
    m_dialog.OnSaveConstant();
    EXPECT_EQ(m_dialog.m_iterFormula.GetConstant(0).re, 7);
    // OK without saving discards a typed value.
    Line(CSettingDlg::kConstIm)->setText(QStringLiteral("9"));
    EXPECT_TRUE(m_dialog.OnOk());
    EXPECT_EQ(m_dialog.m_iterFormula.GetConstant(0).im, 4);
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
}

TEST_F(SettingDialog, FieldChecksAtTheirBounds)
{
    m_dialog.SelectPage(3);
    const struct {
        int id;
        const char* text;
        const char* message; // nullptr: accepted
    } rows[] = {
        { CSettingDlg::kMaxIter, "0", nullptr },
        { CSettingDlg::kMaxIter, "4096", nullptr },
        { CSettingDlg::kMaxIter, "4097", "Please enter an integer between 0 and 4096." },
        { CSettingDlg::kMaxIter, "ten", "Please enter an integer." },
        { CSettingDlg::kMapSin, "-1", nullptr },
        { CSettingDlg::kMapSin, "1", nullptr },
        { CSettingDlg::kMapSin, "1.5", "Please enter a number between -1 and 1." },
        { CSettingDlg::kMapStretch, "100000000", nullptr },
        { CSettingDlg::kMapStretch, "100000001", "Please enter a number between 0 and 100000000." },
        { CSettingDlg::kMapX0, "left", "Please enter a number." },
        { CSettingDlg::kEditStep, "1e-9 is fine", nullptr },
    };
    for (const auto& row : rows) {
        m_dialog.WriteFields();
        Line(row.id)->setText(QString::fromLatin1(row.text));
        m_services.messages.clear();
        EXPECT_EQ(m_dialog.ReadFields(), row.message == nullptr) << row.text;
        if (row.message) {
            EXPECT_EQ(m_services.Last(), QString::fromLatin1(row.message)) << row.text;
            // Leaving page 3 with a bad field keeps the user on page 3.
            m_dialog.SelectPage(1);
            EXPECT_EQ(Page(), 3) << row.text;
            EXPECT_FALSE(m_dialog.OnOk()) << row.text;
        }
    }
}

TEST_F(SettingDialog, ReverseAngleBox)
{
    m_dialog.m_bReverseAngle = 1;
    m_dialog.m_dMapSin = 0.6;
    m_dialog.InitDialog();
    EXPECT_TRUE(static_cast<QCheckBox*>(m_dialog.ControlById(CSettingDlg::kReverseAngle))->isChecked());
    EXPECT_EQ(Line(CSettingDlg::kMapSin)->text(), QStringLiteral("0.6"));
    static_cast<QCheckBox*>(m_dialog.ControlById(CSettingDlg::kReverseAngle))->setChecked(false);
    EXPECT_TRUE(m_dialog.OnOk());
    EXPECT_EQ(m_dialog.m_bReverseAngle, 0);
}

// Long numbers show from their first character, as the user reads them.
TEST_F(SettingDialog, FieldsShowTheirFirstCharacters)
{
    m_dialog.m_dMapX0 = 0.160000000000001;
    m_dialog.m_dMapY0 = 0.0975609756097561;
    m_dialog.InitDialog();
    m_dialog.SelectPage(3);
    for (const int id : { CSettingDlg::kMapX0, CSettingDlg::kMapY0, CSettingDlg::kMaxIter }) {
        EXPECT_EQ(Line(id)->cursorPosition(), 0) << Line(id)->text().toStdString();
    }
    SelectConstant(0);
    EXPECT_EQ(Line(CSettingDlg::kConstRe)->cursorPosition(), 0);
}

// No label or check box of any dialog is clipped, overlaps a field or leaves its group, in either
// language; every field shows a number of 15 significant digits whole, and the export settings' fields
// stand in one column.
TEST(Dialogs, EveryTextFits)
{
    for (const char* language : { "zh_CN", "en" }) {
        ASSERT_TRUE(InstallLanguage(QString::fromLatin1(language)));
        CFakeServices services;
        CSettingDlg settings(services);
        COutportDlg progress;
        COutportSetDlg exportSize(services);
        settings.m_dMapY0 = settings.m_dMapSin = settings.m_dEditStep = -0.243902439024390;
        settings.m_dMapX0 = settings.m_dMapStretch = 12345.6789012345;
        settings.m_nMaxIter = 4096;
        settings.InitDialog();
        settings.SelectPage(3); // the page of the labels and the check box
        static_cast<QLineEdit*>(settings.ControlById(CSettingDlg::kConstRe))
            ->setText(QStringLiteral("-0.780000000000001"));
        static_cast<QLineEdit*>(settings.ControlById(CSettingDlg::kConstIm))
            ->setText(QStringLiteral("-0.150000000000001"));
        for (QDialog* dialog : std::initializer_list<QDialog*> { &settings, &progress, &exportSize }) {
            dialog->show();
            // Fields and buttons a grown text could slide under.
            std::vector<QWidget*> controls;
            for (QWidget* control : dialog->findChildren<QWidget*>()) {
                if ((qobject_cast<QLineEdit*>(control) || qobject_cast<QPushButton*>(control))
                    && control->isVisibleTo(dialog)) {
                    controls.push_back(control);
                }
            }
            std::vector<QWidget*> texts;
            for (QLabel* label : dialog->findChildren<QLabel*>()) {
                texts.push_back(label);
            }
            for (QCheckBox* box : dialog->findChildren<QCheckBox*>()) {
                texts.push_back(box);
            }
            ASSERT_FALSE(texts.empty());
            const QList<QGroupBox*> groups = dialog->findChildren<QGroupBox*>();
            for (QWidget* text : texts) {
                const std::string name
                    = language + std::string(": ") + text->property("text").toString().toStdString();
                const QSize hint = text->sizeHint();
                EXPECT_GE(text->width(), hint.width()) << name;
                EXPECT_GE(text->height(), hint.height()) << name;
                EXPECT_TRUE(dialog->rect().contains(text->geometry())) << name;
                for (QWidget* control : controls) {
                    EXPECT_FALSE(
                        text->isVisibleTo(dialog) && text->geometry().intersects(control->geometry()))
                        << name << " under " << control->metaObject()->className();
                }
                for (const QGroupBox* group : groups) {
                    const QRect inside = group->geometry().marginsRemoved(QMargins(2, 2, 2, 2));
                    EXPECT_TRUE(!text->isVisibleTo(dialog) || !group->geometry().intersects(text->geometry())
                        || inside.contains(text->geometry()))
                        << name << " crosses the border of " << group->title().toStdString();
                }
            }
            for (QWidget* control : controls) {
                if (const auto* field = qobject_cast<QLineEdit*>(control)) {
                    EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()) + 8, field->width())
                        << language << ": " << field->text().toStdString();
                }
            }
            dialog->hide();
        }
        for (QLineEdit* field :
            { exportSize.HeightField(), exportSize.PngLevelField(), exportSize.AntialiasField() }) {
            EXPECT_EQ(field->x(), exportSize.WidthField()->x()) << language;
            EXPECT_EQ(field->width(), exportSize.WidthField()->width()) << language;
        }
    }
    ASSERT_TRUE(InstallLanguage(QStringLiteral("zh_CN")));
}

} // namespace
