#include "outportsetdlg.h"

#include "antialias.h"
#include "dialogunits.h"
#include "fieldexchange.h"
#include "fixedlimits.h"
#include "fractalscript.h"
#include "windowservices.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <iterator>
#include <vector>

COutportSetDlg::COutportSetDlg(CWindowServices& services, QWidget* parent)
    : QDialog(parent)
    , m_services(services)
{
    setWindowTitle(tr("导出设置"));
    // Below the size fields: the PNG level, anti-aliasing and whether a new size keeps the framing.
    setFixedSize(Dlu(165, 98).size());
    // The rows of the template, and two more; the fields stand in one column after the widest label.
    const struct {
        QString label;
        QLineEdit*& field;
        int y;
    } rows[] = {
        { tr("图像宽度"), m_width, 8 },
        { tr("图像高度"), m_height, 25 },
        { tr("PNG压缩级别"), m_pngLevel, 43 },
        { tr("抗锯齿(N×N)"), m_antialias, 61 },
    };
    constexpr int kLabelGap = 4; // pixels between the widest label and the fields
    int column = DluX(51);
    std::vector<QLabel*> labels;
    for (const auto& row : rows) {
        auto* label = new QLabel(row.label, this);
        label->setGeometry(Dlu(8, row.y, 33, 8));
        labels.push_back(label);
        column = std::max(column, DluX(8) + label->sizeHint().width() + kLabelGap);
    }
    for (size_t k = 0; k < std::size(rows); ++k) {
        rows[k].field = new QLineEdit(this);
        const QRect field = Dlu(51, rows[k].y, 40, 12);
        rows[k].field->setGeometry(column, field.top(), field.width(), field.height());
        // Each label on its field's middle line.
        labels[k]->setGeometry(DluX(8), field.top(), column - kLabelGap - DluX(8), field.height());
        labels[k]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        labels[k]->setBuddy(rows[k].field);
    }
    m_keepFraming = new QCheckBox(tr("新尺寸保持画面范围"), this);
    m_keepFraming->setGeometry(Dlu(8, 80, 150, 10));
    auto* ok = new QPushButton(tr("确定"), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("取消"), this);
    cancel->setAutoDefault(false);
    // The buttons keep the template's place unless the column of fields reaches it.
    const int buttons = std::max(DluX(108), column + DluX(40) + 2 * kLabelGap);
    ok->setGeometry(Dlu(108, 7, 50, 14).translated(buttons - DluX(108), 0));
    cancel->setGeometry(Dlu(108, 25, 50, 14).translated(buttons - DluX(108), 0));
    FitTexts(this);
    setFixedSize(std::max(width(), cancel->geometry().right() + 2 * kLabelGap),
        std::max(height(), m_keepFraming->geometry().bottom() + 2 * kLabelGap));
    connect(ok, &QPushButton::clicked, this, [this] { OnOk(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void COutportSetDlg::InitDialog()
{
    CFieldExchange dx(this, m_services, CFieldExchange::Direction::Write);
    dx.Integer(m_width, m_nWidth, kMinImageSide, kMaxImageSide);
    dx.Integer(m_height, m_nHeight, kMinImageSide, kMaxImageSide);
    dx.Integer(m_pngLevel, m_nPngLevel, kMinPngLevel, kMaxPngLevel);
    dx.Integer(m_antialias, m_nAntialias, kMinAntialias, kMaxAntialias);
    dx.Check(m_keepFraming, m_bKeepFraming);
}

int COutportSetDlg::exec()
{
    InitDialog();
    return QDialog::exec();
}

bool COutportSetDlg::OnOk()
{
    CFieldExchange dx(this, m_services, CFieldExchange::Direction::Read);
    if (!(dx.Integer(m_width, m_nWidth, kMinImageSide, kMaxImageSide)
            && dx.Integer(m_height, m_nHeight, kMinImageSide, kMaxImageSide)
            && dx.Integer(m_pngLevel, m_nPngLevel, kMinPngLevel, kMaxPngLevel)
            && dx.Integer(m_antialias, m_nAntialias, kMinAntialias, kMaxAntialias)
            && dx.Check(m_keepFraming, m_bKeepFraming))) {
        return false;
    }
    accept();
    return true;
}
