#pragma once

#include <QCoreApplication>
#include <QDialog>

class CContactButton;
class CWindowServices;

// The About box ("关于 Glimmerset"): the name, the version line, the usage text, the contact button
// and OK. The contact button opens the contact page through the services.
class CAboutDlg : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(CAboutDlg)

public:
    CAboutDlg(CWindowServices& services, QWidget* parent = nullptr);
    CContactButton* ContactButton() const { return m_contact; }

private:
    CContactButton* m_contact { nullptr };
};
