#pragma once

#include <QCoreApplication>
#include <QDialog>

class CWindowServices;
class QCheckBox;
class QLineEdit;

// The export size dialog: width and height of the target image, 100 to 4096 each, the PNG
// compression level of exported pictures, 0 to 9, the samples per pixel a side, 1 to 4, and whether a
// new size keeps the framing (the same part of the plane) instead of the scale.
class COutportSetDlg : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(COutportSetDlg)

public:
    COutportSetDlg(CWindowServices& services, QWidget* parent = nullptr);

    int m_nWidth { 0 };
    int m_nHeight { 0 };
    int m_nPngLevel { 0 };
    int m_nAntialias { 1 };
    int m_bKeepFraming { 0 }; // check box state, 0 or 1

    void InitDialog();
    int exec() override;
    // OK: reads the fields; ends the dialog with OK and returns true when both are valid.
    bool OnOk();
    QLineEdit* WidthField() const { return m_width; }
    QLineEdit* HeightField() const { return m_height; }
    QLineEdit* PngLevelField() const { return m_pngLevel; }
    QLineEdit* AntialiasField() const { return m_antialias; }
    QCheckBox* KeepFramingBox() const { return m_keepFraming; }

private:
    CWindowServices& m_services;
    QLineEdit* m_width { nullptr };
    QLineEdit* m_height { nullptr };
    QLineEdit* m_pngLevel { nullptr };
    QLineEdit* m_antialias { nullptr };
    QCheckBox* m_keepFraming { nullptr };
};
