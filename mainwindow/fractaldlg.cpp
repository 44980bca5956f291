// The main window's life: construction, the menu, start-up, the timers, the title and closing.
#include "fractaldlg.h"

#include "clientarea.h"
#include "constantmapwindow.h"
#include "language.h"
#include "largeview.h"
#include "layout.h"
#include "statusline.h"
#include "surface.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLayout>
#include <QMenuBar>

namespace {

// The window's fixed texts, translated when they are shown.
const char* const kUntitled = QT_TRANSLATE_NOOP("CFractalDlg", "未命名");
const char* const kErrorCaption = QT_TRANSLATE_NOOP("CFractalDlg", "错误");

QIcon AppIcon()
{
    QIcon icon;
    for (const int size : { 16, 32, 48, 64, 128, 256 }) {
        icon.addFile(QStringLiteral(":/glimmerset/icon-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace

CFractalDlg::CFractalDlg(CWindowServices& services, QWidget* parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_hAppIcon(AppIcon())
    , m_dcPreview(Layout::kPreviewSide, Layout::kPreviewSide, QImage::Format_RGB32)
    , m_history([this](const EditSide& side) { ApplySide(side); })
{
    m_clock = [timer = std::make_shared<QElapsedTimer>()] {
        if (!timer->isValid()) {
            timer->start();
        }
        return timer->elapsed();
    };
    // A fixed window: a title bar with the system menu and the close box, no minimise or maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint);
    setWindowIcon(m_hAppIcon);
    m_dcPreview.fill(Qt::black);
    m_clientArea = new CClientArea(*this);
    setCentralWidget(m_clientArea);
    BuildMenu();
    BuildStatusLine();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // The face "宋体" at a 12-pixel cell; a Song-style CJK font stands in where it is missing.
    m_font.setFamilies({ QStringLiteral(u"宋体"), QStringLiteral("AR PL UMing CN") });
    m_font.setPixelSize(12);
    m_font.setWeight(QFont::Normal);
    m_font.setStyleHint(QFont::SansSerif);

    m_progressStrip = QImage(QStringLiteral(":/glimmerset/progress.png"));
    m_logo = QImage(QStringLiteral(":/glimmerset/logo.png"));

    m_timerPreview.setInterval(kTimerPeriodMs);
    m_timerKeys.setInterval(kTimerPeriodMs);
    connect(&m_timerPreview, &QTimer::timeout, this, &CFractalDlg::OnPreviewTimer);
    connect(&m_timerKeys, &QTimer::timeout, this, &CFractalDlg::OnKeysTimer);
}

CFractalDlg::~CFractalDlg()
{
    StopTimers();
    // The side views first: their workers read the script. The script's destructor stops its own
    // workers; the watermark file goes with its folder.
    m_constantMap.reset();
    m_largeView.reset();
    m_script.StopPreview();
}

void CFractalDlg::BuildMenu()
{
    // The document's items and texts; added are the shortcuts, the Alt letters of "打开" and "导出设置"
    // (the visible text is the same), Undo, Redo, Copy, Paste, the extended limit and the View menu.
    const auto add = [this](QMenu* menu, const QString& text, auto slot, QList<QKeySequence> keys = {}) {
        QAction* action = menu->addAction(text);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, slot);
        if (!keys.isEmpty()) {
            m_shortcutActions.append(action);
        }
        return action;
    };
    QMenu* file = menuBar()->addMenu(tr("文件(&F)"));
    QMenu* fileNew = file->addMenu(tr("新建"));
    add(fileNew, tr("Julia集(&P)"), &CFractalDlg::OnFileNew, { QKeySequence::New });
    file->addSeparator();
    add(file, tr("打开(&O)"), &CFractalDlg::OnFileOpen, { QKeySequence::Open });
    add(file, tr("保存(&W)"), &CFractalDlg::OnFileSave, { QKeySequence(Qt::CTRL | Qt::Key_S) });
    add(file, tr("另存为...(&A)"), &CFractalDlg::OnFileSaveAs,
        { QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S) });
    file->addSeparator();
    add(file, tr("导出文件(&P)"), &CFractalDlg::OnExport, { QKeySequence(Qt::CTRL | Qt::Key_E) });
    add(file, tr("导出设置(&S)"), &CFractalDlg::OnExportSettings);
    file->addSeparator();
    add(file, tr("退出(&Q)"), &QWidget::close, { QKeySequence(Qt::CTRL | Qt::Key_Q) });

    QMenu* edit = menuBar()->addMenu(tr("编辑(&E)"));
    m_undoAction = add(edit, tr("撤销(&U)"), &CFractalDlg::OnUndo, { QKeySequence(Qt::CTRL | Qt::Key_Z) });
    m_redoAction = add(edit, tr("重做(&R)"), &CFractalDlg::OnRedo,
        { QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y) });
    m_undoAction->setEnabled(false);
    m_redoAction->setEnabled(false);
    connect(&m_history.Stack(), &QUndoStack::canUndoChanged, m_undoAction, &QAction::setEnabled);
    connect(&m_history.Stack(), &QUndoStack::canRedoChanged, m_redoAction, &QAction::setEnabled);
    edit->addSeparator();
    add(edit, tr("复制(&C)"), &CFractalDlg::OnCopy, { QKeySequence::Copy });
    add(edit, tr("粘贴(&V)"), &CFractalDlg::OnPaste, { QKeySequence::Paste });
    edit->addSeparator();
    add(edit, tr("参数设置(&S)"), &CFractalDlg::OnSettings);
    add(edit, tr("扩展迭代上限...(&L)"), &CFractalDlg::OnExtendedLimit);
    QMenu* palette = edit->addMenu(tr("调色板(&P)"));
    add(palette, tr("系统调色板(&X)"), &CFractalDlg::OnSystemPalette);
    add(palette, tr("导入调色板(&I)"), &CFractalDlg::OnImportPalette);
    palette->addSeparator();
    // The key is handled with the other keys of the client area; the menu shows it.
    add(palette, tr("重置调色板映射(&R)\tR"), &CFractalDlg::OnResetPaletteMapping);

    QMenu* view = menuBar()->addMenu(tr("视图(&V)"));
    add(view, tr("重置视图(&H)"), &CFractalDlg::OnResetView, { QKeySequence(Qt::Key_Home) });
    QAction* zoomIn = view->addAction(tr("放大(&I)"));
    zoomIn->setShortcut(QKeySequence(Qt::Key_Plus));
    connect(zoomIn, &QAction::triggered, this, [this] { OnZoom(true); });
    QAction* zoomOut = view->addAction(tr("缩小(&O)"));
    zoomOut->setShortcut(QKeySequence(Qt::Key_Minus));
    connect(zoomOut, &QAction::triggered, this, [this] { OnZoom(false); });
    m_shortcutActions.append({ zoomIn, zoomOut });
    view->addSeparator();
    add(view, tr("重置调色板映射(&M)"), &CFractalDlg::OnResetPaletteMapping);
    view->addSeparator();
    add(view, tr("大视图(&L)"), &CFractalDlg::OnLargeView);
    // F11 belongs to the large view, which toggles full screen with it; here it only opens the view.
    QAction* fullScreen = view->addAction(tr("全屏大视图(&F)"));
    fullScreen->setShortcut(QKeySequence(Qt::Key_F11));
    connect(fullScreen, &QAction::triggered, this, &CFractalDlg::OnLargeViewFullScreen);
    add(view, tr("常量图(&C)"), &CFractalDlg::OnConstantMap);

    QMenu* help = menuBar()->addMenu(tr("帮助(&H)"));
    add(help, tr("关于(&A)"), &CFractalDlg::OnAbout, { QKeySequence(Qt::Key_F1) });
}

void CFractalDlg::Initialize(const QString& scriptPath)
{
    ResetHistory();
    m_strScriptPath.clear();
    m_script.LoadPalette(QString());
    if (!scriptPath.isEmpty()) {
        m_strScriptPath = scriptPath;
        if (m_script.Load(scriptPath)) {
            ApplyPreviewSize();
            ShowPaletteWarning();
        } else {
            const QString detail = FormulaErrorDetail(m_script.GetLastFormulaError());
            ShowError(tr("读取文件[%1]失败！\n %2").arg(scriptPath, TranslateMessage(m_script.GetLastError()))
                + (detail.isEmpty() ? QString() : QLatin1Char('\n') + detail));
            // What a failed load leaves is no picture: start from the default one.
            StartNewScript();
        }
        // A picture opens its script as a new one: Save must never write a script over the picture.
        if (IsPictureFile(scriptPath)) {
            m_strScriptPath.clear();
        }
    } else {
        // A new Julia set: nothing is modified yet, so New asks no question.
        StartNewScript();
    }
    m_script.StartPreview();
    StartTimers();
    m_dEditStep = 0.01;
    m_dShownPreviewProgress = 0.0;
    m_dShownRenderProgress = 0.0;
    m_nDragMode = DragNone;
    m_nShownStage = 0;
    m_mapAtDragStart = m_script.GetMapping();
    UpdateTitle();
    ResetHistory(); // the first state is the saved one
    m_watermarkFile = std::make_unique<CWatermarkFile>();
    m_mark = DecodeImage(CWatermarkFile::Path());
    m_clientArea->setFocus();
}

void CFractalDlg::ApplyPreviewSize()
{
    const QSize size = Layout::PreviewSize(m_script.GetImageWidth(), m_script.GetImageHeight());
    m_script.CreatePreview(size.width() / Layout::kCellSide, size.height() / Layout::kCellSide,
        Layout::kCellSide, Layout::kCellSide);
    m_markScaled = QImage();
}

bool CFractalDlg::TimersRunning() const { return m_timerPreview.isActive() && m_timerKeys.isActive(); }

void CFractalDlg::StopTimers()
{
    m_timerPreview.stop();
    m_timerKeys.stop();
}

void CFractalDlg::StartTimers()
{
    m_timerPreview.start();
    m_timerKeys.start();
}

void CFractalDlg::EndDrag()
{
    m_ptDragStart.setX(-1);
    m_nDragMode = DragNone;
}

void CFractalDlg::Pause()
{
    StopTimers();
    EndDrag();
    StopSideViews();
    m_script.StopPreview();
}

void CFractalDlg::Resume()
{
    m_script.StartPreview();
    StartSideViews();
    StartTimers();
}

void CFractalDlg::ShowError(const QString& text)
{
    m_services.ShowMessage(this, text, tr(kErrorCaption), MessageIcon::Error, MessageButtons::Ok);
}

QString CFractalDlg::FileTitleOf(const QString& path)
{
    if (path.isEmpty()) {
        return tr(kUntitled);
    }
    const qsizetype separator
        = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    const QString name = path.mid(separator + 1);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

void CFractalDlg::UpdateTitle()
{
    m_strFileTitle = FileTitleOf(m_strScriptPath);
    setWindowTitle(QStringLiteral("Glimmerset - %1").arg(m_strFileTitle));
}

void CFractalDlg::closeEvent(QCloseEvent* event)
{
    // Not while a command waits for the export worker: that command resumes the window itself.
    if (m_bWaitingForExport) {
        event->ignore();
        return;
    }
    if (m_bCloseConfirmed || CloseQuery()) {
        m_bCloseConfirmed = true;
        event->accept();
        return;
    }
    event->ignore();
}

void CFractalDlg::changeEvent(QEvent* event)
{
    // Keys released while another window had the focus never reach us: forget them.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        m_arrows.Clear();
    }
    QMainWindow::changeEvent(event);
}

void CFractalDlg::Repaint() { m_clientArea->update(); }

void CFractalDlg::OnPreviewTimer()
{
    const bool drawn = m_script.GetPreviewFrame(m_nShownStage, m_frame);
    if (drawn) {
        ComposePreview();
    }
    const double previewProgress = m_script.PreviewWorker().m_dProgress.load();
    const double renderProgress = m_script.PreviewWorker().m_dRenderProgress.load();
    if (previewProgress != m_dShownPreviewProgress || renderProgress != m_dShownRenderProgress) {
        m_dShownPreviewProgress = previewProgress;
        m_dShownRenderProgress = renderProgress;
        Repaint();
    } else if (drawn) {
        Repaint();
    }
    if (m_script.IsModified()) {
        setWindowTitle(QStringLiteral("Glimmerset - %1 *").arg(m_strFileTitle));
    }
    UpdateStatusLine();
}
