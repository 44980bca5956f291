#pragma once

#include "formula.h"

#include <QCoreApplication>
#include <QDialog>
#include <QString>

#include <map>

class CWindowServices;
struct FormulaError;
enum class FormulaKind;
class QListWidget;
class QPlainTextEdit;
class QTabBar;

// The parameter settings dialog: four pages edit the three formulas, the iteration limit, the edit
// step, the iteration formula's constants and the palette mapping. It works on copies and compiles
// them against a scratch script whenever page 3 is entered and on OK, so that it never closes with
// a formula that does not compile. The Settings command fills the members and applies them after OK.
class CSettingDlg : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(CSettingDlg)

public:
    // The controls, by their numbers.
    enum Control : int {
        kOk = 1,
        kCancel = 2,
        kIterText = 1000,
        kTermText = 1002,
        kColorText = 1003,
        kTabs = 1004,
        kMaxIter = 1005,
        kConstants = 1006,
        kConstRe = 1009,
        kConstIm = 1010,
        kEditStep = 1012,
        kMapX0 = 1014,
        kMapY0 = 1017,
        kMapDX = 1019,
        kMapDY = 1021,
        kMapSin = 1023,
        kMapStretch = 1025,
        kSaveConstant = 1026,
        kReverseAngle = 1027,
    };
    // Pages: 0 iteration formula, 1 termination condition, 2 colour formula, 3 other.
    static constexpr int kOtherPage = 3;

    CSettingDlg(CWindowServices& services, QWidget* parent = nullptr);

    int m_nCurPage { 0 };
    CFormula m_iterFormula;
    CFormula m_termFormula;
    CFormula m_colorFormula;
    QString m_strIterFormula;
    QString m_strTermFormula;
    QString m_strColorFormula;
    int m_nMaxIter { 0 };
    double m_dEditStep { 0.0 };
    double m_dConstRe { 0.0 };
    double m_dConstIm { 0.0 };
    double m_dMapX0 { 0.0 };
    double m_dMapY0 { 0.0 };
    double m_dMapDX { 0.0 };
    double m_dMapDY { 0.0 };
    double m_dMapSin { 0.0 };
    double m_dMapStretch { 0.0 };
    int m_bReverseAngle { 0 };

    // Dialog initialisation; exec() runs it, tests call it directly.
    void InitDialog();
    int exec() override;

    // The handlers.
    void OnPageChange();
    void OnConstantSelection();
    void OnSaveConstant();
    // OK: reads the fields and compiles; ends the dialog with OK and returns true on success.
    bool OnOk();

    // Moves every field into its member (or back); false at the first field that fails.
    bool ReadFields();
    void WriteFields();
    // Compiles the three texts against a scratch script; on success the working copies take the
    // result, on failure they stay as they were and error names the formula and holds the message.
    bool CompileInto(FormulaError& error);

    QWidget* ControlById(int id) const;
    QTabBar* Tabs() const { return m_tabPages; }
    QListWidget* Constants() const { return m_listConstants; }
    // Selects a page as the user does, with the page change handler.
    void SelectPage(int page);
    // The text field of a formula.
    QPlainTextEdit* FormulaField(FormulaKind which) const;

private:
    // Places a control at dlu on a page (kAllPages: every page) and, unless id is 0, keeps it by id.
    void Place(int id, QWidget* widget, QRect dlu, int page);
    void AddLabel(const QString& text, QRect dlu);
    void AddEdit(int id, QRect dlu);
    // A field with its label before it.
    void AddLabeledEdit(const QString& text, int id, QRect dlu);
    void AddFormula(int id, QRect dlu, int page);
    void ShowPageControls();
    void SelectPageQuietly(int page);
    // Selects and underlines the text a compile failed on, with the cursor at its start, and gives
    // the field the focus when it is shown.
    void MarkFault(const FormulaError& error);

    CWindowServices& m_services;
    QTabBar* m_tabPages { nullptr };
    QListWidget* m_listConstants { nullptr };
    std::map<int, QWidget*> m_controls;
};
