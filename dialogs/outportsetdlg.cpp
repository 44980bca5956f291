#include "outportsetdlg.h"

#include "antialias.h"
#include "dialogunits.h"
#include "fieldexchange.h"
#include "fixedlimits.h"
#include "fractalscript.h"
#include "windowservices.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

COutportSetDlg::COutportSetDlg(CWindowServices& services, QWidget* parent)
    : QDialog(parent)
    , m_services(services)
{
    setWindowTitle(tr("导出设置"));
    setFixedSize(Dlu(165, 82).size()); // two rows below the size fields: the PNG level, anti-aliasing
    auto* widthLabel = new QLabel(tr("图像宽度"), this);
    widthLabel->setGeometry(Dlu(8, 8, 33, 8));
    m_width = new QLineEdit(this);
    m_width->setGeometry(Dlu(51, 8, 40, 12));
    auto* heightLabel = new QLabel(tr("图像高度"), this);
    heightLabel->setGeometry(Dlu(8, 26, 33, 8));
    m_height = new QLineEdit(this);
    m_height->setGeometry(Dlu(51, 25, 40, 12));
    auto* levelLabel = new QLabel(tr("PNG压缩级别"), this);
    levelLabel->setGeometry(Dlu(8, 44, 33, 8));
    levelLabel->resize(std::max(levelLabel->width(), levelLabel->sizeHint().width()), levelLabel->height());
    m_pngLevel = new QLineEdit(this);
    m_pngLevel->setGeometry(Dlu(51, 43, 40, 12));
    m_pngLevel->move(std::max(m_pngLevel->x(), levelLabel->geometry().right() + 4), m_pngLevel->y());
    auto* antialiasLabel = new QLabel(tr("抗锯齿(N×N)"), this);
    antialiasLabel->setGeometry(Dlu(8, 62, 33, 8));
    antialiasLabel->resize(
        std::max(antialiasLabel->width(), antialiasLabel->sizeHint().width()), antialiasLabel->height());
    m_antialias = new QLineEdit(this);
    m_antialias->setGeometry(Dlu(51, 61, 40, 12));
    m_antialias->move(std::max(m_antialias->x(), antialiasLabel->geometry().right() + 4), m_antialias->y());
    auto* ok = new QPushButton(tr("确定"), this);
    ok->setGeometry(Dlu(108, 7, 50, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("取消"), this);
    cancel->setGeometry(Dlu(108, 25, 50, 14));
    cancel->setAutoDefault(false);
    FitTexts(this);
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
            && dx.Integer(m_antialias, m_nAntialias, kMinAntialias, kMaxAntialias))) {
        return false;
    }
    accept();
    return true;
}
