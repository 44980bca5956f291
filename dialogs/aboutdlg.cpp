#include "aboutdlg.h"

#include "contactbutton.h"
#include "windowservices.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(CWindowServices& services, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("关于 Glimmerset"));
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(QStringLiteral("<b>Glimmerset</b>"), this);
    auto* version = new QLabel(QStringLiteral("Glimmerset Version 0.01"), this);
    auto* usage = new QLabel(AboutLines().join(QLatin1Char('\n')), this);
    m_contact = new CContactButton(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    // Opened only on a click: nothing is fetched in the background.
    connect(m_contact, &QAbstractButton::clicked, this,
        [&services, this] { services.OpenUrl(this, ContactUrl()); });
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addWidget(usage);
    auto* row = new QHBoxLayout;
    row->addWidget(m_contact);
    row->addStretch();
    row->addWidget(buttons);
    layout->addLayout(row);
}
