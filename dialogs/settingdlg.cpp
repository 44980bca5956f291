#include "settingdlg.h"

#include "dialogunits.h"
#include "fieldexchange.h"
#include "fixedlimits.h"
#include "fractalscript.h"
#include "language.h"
#include "windowservices.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTextCursor>

#include <algorithm>

namespace {

constexpr int kAllPages = -1;
// The page a control belongs to, kept on the widget; controls without it show on every page.
constexpr const char* kPageProperty = "settingsPage";
// The tab control's tab row, in dialog units; the page frame lies below it.
constexpr int kTabRowHeight = 14;
// Between a label and its field, in pixels.
constexpr int kLabelGap = 4;

} // namespace

CSettingDlg::CSettingDlg(CWindowServices& services, QWidget* parent)
    : QDialog(parent)
    , m_services(services)
{
    setWindowTitle(tr("参数设置"));
    setFixedSize(Dlu(291, 214).size());

    // The tab control: its row of tabs and the page frame under it, behind every page's controls.
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setGeometry(Dlu(7, 7 + kTabRowHeight - 1, 277, 179 - kTabRowHeight + 1));
    m_tabPages = new QTabBar(this);
    m_tabPages->setGeometry(Dlu(7, 7, 277, kTabRowHeight));
    m_tabPages->setDrawBase(false);
    m_controls[kTabs] = m_tabPages;

    AddFormula(kIterText, { 15, 24, 265, 154 }, 0);
    AddFormula(kTermText, { 7, 24, 273, 154 }, 1);
    AddFormula(kColorText, { 15, 24, 265, 154 }, 2);

    auto* constantsGroup = new QGroupBox(tr("常量"), this);
    Place(0, constantsGroup, { 15, 40, 122, 138 }, kOtherPage);
    auto* mappingGroup = new QGroupBox(tr("调色板映射"), this);
    Place(0, mappingGroup, { 146, 40, 134, 138 }, kOtherPage);

    // Page 3 in the template's groups and order, with fields wide enough for the 15 digits they are
    // written with and a label before each: the constants' list above their two parts, the mapping's
    // labels right-aligned in a column before its fields, the reverse-angle box under the sine.
    AddLabel(tr("最大迭代次数"), { 15, 26, 49, 8 });
    AddEdit(kMaxIter, { 71, 24, 40, 12 });
    AddLabel(tr("修改精度"), { 148, 26, 33, 8 });
    AddEdit(kEditStep, { 185, 24, 95, 12 });
    m_listConstants = new QListWidget(this);
    m_listConstants->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listConstants->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Place(kConstants, m_listConstants, { 25, 51, 108, 58 }, kOtherPage);
    AddLabeledEdit(tr("实部"), kConstRe, { 40, 115, 93, 12 });
    AddLabeledEdit(tr("虚部"), kConstIm, { 40, 132, 93, 12 });
    auto* saveConstant = new QPushButton(tr("保存"), this);
    saveConstant->setAutoDefault(false);
    Place(kSaveConstant, saveConstant, { 89, 153, 40, 14 }, kOtherPage);
    AddLabeledEdit(QStringLiteral("x0"), kMapX0, { 188, 53, 90, 12 });
    AddLabeledEdit(QStringLiteral("y0"), kMapY0, { 188, 70, 90, 12 });
    AddLabeledEdit(QStringLiteral("dx"), kMapDX, { 188, 87, 90, 12 });
    AddLabeledEdit(QStringLiteral("dy"), kMapDY, { 188, 104, 90, 12 });
    AddLabeledEdit(tr("角度sin值"), kMapSin, { 188, 121, 90, 12 });
    Place(kReverseAngle, new QCheckBox(tr("反角"), this), { 188, 137, 90, 10 }, kOtherPage);
    AddLabeledEdit(tr("拉伸"), kMapStretch, { 188, 152, 90, 12 });

    auto* ok = new QPushButton(tr("确定"), this);
    ok->setDefault(true);
    Place(kOk, ok, { 234, 193, 50, 14 }, kAllPages);
    auto* cancel = new QPushButton(tr("取消"), this);
    cancel->setAutoDefault(false);
    Place(kCancel, cancel, { 181, 193, 50, 14 }, kAllPages);

    // The templates' sizes are for another font: no text may be clipped in the one at hand.
    FitTexts(this);

    connect(m_tabPages, &QTabBar::currentChanged, this, [this] { OnPageChange(); });
    connect(m_listConstants, &QListWidget::itemSelectionChanged, this, [this] { OnConstantSelection(); });
    connect(saveConstant, &QPushButton::clicked, this, [this] { OnSaveConstant(); });
    connect(ok, &QPushButton::clicked, this, [this] { OnOk(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CSettingDlg::Place(int id, QWidget* widget, QRect dlu, int page)
{
    widget->setGeometry(Dlu(dlu));
    if (id != 0) {
        m_controls[id] = widget;
    }
    if (page != kAllPages) {
        widget->setProperty(kPageProperty, page);
    }
}

void CSettingDlg::AddLabel(const QString& text, QRect dlu)
{
    Place(0, new QLabel(text, this), dlu, kOtherPage);
}

void CSettingDlg::AddEdit(int id, QRect dlu) { Place(id, new QLineEdit(this), dlu, kOtherPage); }

void CSettingDlg::AddLabeledEdit(const QString& text, int id, QRect dlu)
{
    AddEdit(id, dlu);
    // Right-aligned against its field, as wide as its text needs in the font at hand.
    auto* label = new QLabel(text, this);
    const QRect field = Dlu(dlu);
    const int width = label->sizeHint().width();
    label->setGeometry(field.left() - kLabelGap - width, field.top(), width, field.height());
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setBuddy(ControlById(id));
    label->setProperty(kPageProperty, kOtherPage);
}

void CSettingDlg::AddFormula(int id, QRect dlu, int page)
{
    auto* widget = new QPlainTextEdit(this);
    widget->setLineWrapMode(QPlainTextEdit::NoWrap); // both scroll bars
    widget->setTabChangesFocus(true);
    // A fault's mark goes with the first edit.
    connect(widget, &QPlainTextEdit::textChanged, widget, [widget] { widget->setExtraSelections({}); });
    Place(id, widget, dlu, page);
}

QWidget* CSettingDlg::ControlById(int id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CSettingDlg::ShowPageControls()
{
    const int page = m_tabPages->currentIndex();
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        const QVariant owner = widget ? widget->property(kPageProperty) : QVariant();
        if (owner.isValid()) {
            widget->setVisible(owner.toInt() == page);
        }
    }
}

void CSettingDlg::SelectPageQuietly(int page)
{
    const QSignalBlocker quiet(m_tabPages);
    m_tabPages->setCurrentIndex(page);
}

void CSettingDlg::SelectPage(int page) { m_tabPages->setCurrentIndex(page); }

void CSettingDlg::InitDialog()
{
    if (m_tabPages->count() == 0) {
        const QSignalBlocker quiet(m_tabPages);
        for (const QString& title : { tr("迭代公式"), tr("终止条件"), tr("取色公式"), tr("其他") }) {
            m_tabPages->addTab(title);
        }
    }
    m_nCurPage = 0;
    SelectPageQuietly(0);
    ShowPageControls();
    m_strIterFormula = QString::fromStdString(m_iterFormula.GetText());
    m_strTermFormula = QString::fromStdString(m_termFormula.GetText());
    m_strColorFormula = QString::fromStdString(m_colorFormula.GetText());
    OnConstantSelection(); // the list is empty still: this disables the constant's fields
    WriteFields();
}

int CSettingDlg::exec()
{
    InitDialog();
    return QDialog::exec();
}

bool CSettingDlg::ReadFields()
{
    CFieldExchange dx(this, m_services, CFieldExchange::Direction::Read);
    const auto line = [this](int id) { return static_cast<QLineEdit*>(ControlById(id)); };
    const auto text = [this](int id) { return static_cast<QPlainTextEdit*>(ControlById(id)); };
    // ORDER: the fields are read in this order and the first failure stops the read.
    return dx.Text(text(kIterText), m_strIterFormula) && dx.Text(text(kTermText), m_strTermFormula)
        && dx.Text(text(kColorText), m_strColorFormula)
        && dx.Integer(line(kMaxIter), m_nMaxIter, kMinIterationsField, kMaxIterationsField)
        && dx.Number(line(kEditStep), m_dEditStep) && dx.Number(line(kConstRe), m_dConstRe)
        && dx.Number(line(kConstIm), m_dConstIm) && dx.Number(line(kMapX0), m_dMapX0)
        && dx.Number(line(kMapY0), m_dMapY0) && dx.Number(line(kMapDX), m_dMapDX)
        && dx.Number(line(kMapDY), m_dMapDY) && dx.Number(line(kMapSin), m_dMapSin, -1, 1)
        && dx.Number(line(kMapStretch), m_dMapStretch, 0, 100000000)
        && dx.Check(static_cast<QCheckBox*>(ControlById(kReverseAngle)), m_bReverseAngle);
}

void CSettingDlg::WriteFields()
{
    CFieldExchange dx(this, m_services, CFieldExchange::Direction::Write);
    const auto line = [this](int id) { return static_cast<QLineEdit*>(ControlById(id)); };
    const auto text = [this](int id) { return static_cast<QPlainTextEdit*>(ControlById(id)); };
    dx.Text(text(kIterText), m_strIterFormula);
    dx.Text(text(kTermText), m_strTermFormula);
    dx.Text(text(kColorText), m_strColorFormula);
    dx.Integer(line(kMaxIter), m_nMaxIter, kMinIterationsField, kMaxIterationsField);
    dx.Number(line(kEditStep), m_dEditStep);
    dx.Number(line(kConstRe), m_dConstRe);
    dx.Number(line(kConstIm), m_dConstIm);
    dx.Number(line(kMapX0), m_dMapX0);
    dx.Number(line(kMapY0), m_dMapY0);
    dx.Number(line(kMapDX), m_dMapDX);
    dx.Number(line(kMapDY), m_dMapDY);
    dx.Number(line(kMapSin), m_dMapSin);
    dx.Number(line(kMapStretch), m_dMapStretch);
    dx.Check(static_cast<QCheckBox*>(ControlById(kReverseAngle)), m_bReverseAngle);
}

bool CSettingDlg::CompileInto(FormulaError& error)
{
    // The scratch picture starts from copies, so that constant values survive a recompilation.
    Picture scratch;
    scratch.iterFormula = m_iterFormula;
    scratch.termFormula = m_termFormula;
    scratch.colorFormula = m_colorFormula;
    if ((error = CompileFormulas(scratch, m_strIterFormula.toStdString(), m_strTermFormula.toStdString()))
        || (error = CompileColorFormula(scratch, m_strColorFormula.toStdString()))) {
        return false;
    }
    m_iterFormula = std::move(scratch.iterFormula);
    m_termFormula = std::move(scratch.termFormula);
    m_colorFormula = std::move(scratch.colorFormula);
    return true;
}

void CSettingDlg::OnPageChange()
{
    const int page = m_tabPages->currentIndex();
    if (m_nCurPage == kOtherPage) {
        if (!ReadFields()) {
            SelectPageQuietly(kOtherPage);
        }
    } else if (page == kOtherPage && ReadFields()) {
        FormulaError error;
        if (CompileInto(error)) {
            const QSignalBlocker quiet(m_listConstants);
            m_listConstants->clear();
            for (int k = 0; k < m_iterFormula.GetConstantCount(); ++k) {
                m_listConstants->addItem(QString::fromStdString(m_iterFormula.GetConstantName(k)));
            }
            m_listConstants->setCurrentRow(-1);
            m_listConstants->clearSelection();
            OnConstantSelection();
        } else {
            m_services.ShowMessage(
                this, FormulaErrorText(error), tr("错误"), MessageIcon::Error, MessageButtons::Ok);
            // Back to the page of the formula that failed.
            SelectPageQuietly(error.which == FormulaKind::Iteration ? 0
                    : error.which == FormulaKind::Termination       ? 1
                    : error.which == FormulaKind::Colour            ? 2
                                                                    : page);
            m_nCurPage = m_tabPages->currentIndex();
            ShowPageControls();
            MarkFault(error);
            return;
        }
    }
    m_nCurPage = m_tabPages->currentIndex();
    ShowPageControls();
}

QPlainTextEdit* CSettingDlg::FormulaField(FormulaKind which) const
{
    const int id = which == FormulaKind::Iteration ? kIterText
        : which == FormulaKind::Termination        ? kTermText
        : which == FormulaKind::Colour             ? kColorText
                                                   : 0;
    return static_cast<QPlainTextEdit*>(ControlById(id));
}

void CSettingDlg::MarkFault(const FormulaError& error)
{
    QPlainTextEdit* field = FormulaField(error.which);
    if (field == nullptr || error.where.line <= 0) {
        return;
    }
    // The compiler counts bytes of the UTF-8 text it was given; the field counts UTF-16 units.
    const std::string& text = error.text;
    const auto units = [&text](size_t bytes) {
        return static_cast<int>(
            QString::fromUtf8(text.data(), static_cast<qsizetype>(std::min(bytes, text.size()))).size());
    };
    const int start = units(error.where.offset);
    const int end = std::max(units(error.where.offset + error.where.length), start + 1);
    const int last = field->document()->characterCount() - 1;
    // The offending text selected with the cursor at its start, and underlined until the text changes.
    QTextCursor cursor(field->document());
    cursor.setPosition(std::min(end, last));
    cursor.setPosition(std::min(start, last), QTextCursor::KeepAnchor);
    field->setTextCursor(cursor);
    QTextEdit::ExtraSelection mark;
    mark.cursor = cursor;
    mark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    mark.format.setUnderlineColor(Qt::red);
    field->setExtraSelections({ mark });
    if (field->isVisible()) {
        field->setFocus();
    }
}

void CSettingDlg::OnConstantSelection()
{
    const QList<QListWidgetItem*> selected = m_listConstants->selectedItems();
    const bool any = !selected.isEmpty();
    ControlById(kConstRe)->setEnabled(any);
    ControlById(kConstIm)->setEnabled(any);
    if (!any) {
        return;
    }
    const Complex value = m_iterFormula.GetConstant(m_listConstants->row(selected.front()));
    m_dConstRe = value.re;
    m_dConstIm = value.im;
    WriteFields();
}

void CSettingDlg::OnSaveConstant()
{
    const QList<QListWidgetItem*> selected = m_listConstants->selectedItems();
    if (selected.isEmpty()) {
        ControlById(kConstRe)->setEnabled(false);
        ControlById(kConstIm)->setEnabled(false);
        return;
    }
    if (!ReadFields()) {
        return;
    }
    ControlById(kConstRe)->setEnabled(true);
    ControlById(kConstIm)->setEnabled(true);
    // The script itself changes only when the dialog ends with OK.
    m_iterFormula.SetConstant(m_listConstants->row(selected.front()), { m_dConstRe, m_dConstIm });
}

bool CSettingDlg::OnOk()
{
    if (!ReadFields()) {
        return false;
    }
    FormulaError error;
    if (!CompileInto(error)) {
        m_services.ShowMessage(
            this, FormulaErrorText(error), tr("错误"), MessageIcon::Error, MessageButtons::Ok);
        MarkFault(error);
        return false;
    }
    accept();
    return true;
}
