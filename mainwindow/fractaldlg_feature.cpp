// The client area's context menu and its "zoom to the nearest feature": the feature finder runs on a
// thread of its own for the view under the mouse, under a progress window that cancels it (its
// Cancel or Esc), and the view that frames what it found becomes one step of the history.
#include "fractaldlg.h"
#include "layout.h"

#include <QMenu>

#include <atomic>

using namespace Layout;

void CFractalDlg::BuildContextMenu(QMenu& menu, QPoint position)
{
    QAction* zoom = menu.addAction(tr("缩放到最近的特征"));
    double x = 0.0;
    double y = 0.0;
    zoom->setEnabled(PlanePointAt(position, x, y)); // only over the picture
    connect(zoom, &QAction::triggered, this, [this, position] { OnZoomToFeature(position); });
}

void CFractalDlg::OnContextMenu(QPoint position, QPoint global)
{
    QMenu menu(this);
    BuildContextMenu(menu, position);
    menu.exec(global);
}

bool CFractalDlg::FeatureRequestAt(QPoint position, FeatureRequest& request) const
{
    const int pw = m_script.GetPreviewWidth();
    const int ph = m_script.GetPreviewHeight();
    const int i = position.x() - kPreviewLeft - (kPreviewSide - pw) / 2;
    const int j = position.y() - kPreviewTop - (kPreviewSide - ph) / 2;
    if (pw <= 0 || ph <= 0 || i < 0 || j < 0 || i >= pw || j >= ph) {
        return false;
    }
    // The pixel's centre at the view's own precision: a deep view's point needs every digit.
    const PlaneView view = m_script.GetView();
    const PreciseView p = PreciseViewOf(view, ViewBits(view));
    const int width = m_script.GetImageWidth();
    const int height = m_script.GetImageHeight();
    request.re = ShortestText(p.offsetX + p.ratio * (static_cast<double>(width) * (i + 0.5) / pw));
    request.im = ShortestText(p.offsetY + p.ratio * (static_cast<double>(height) * (j + 0.5) / ph));
    request.width = ShortestText(p.ratio * static_cast<double>(width));
    return true;
}

FeatureAnswer CFractalDlg::FindFeatureAside(const FeatureRequest& request)
{
    FeatureAnswer answer;
    const CFormula iteration = m_script.GetIterFormula(); // the thread's own copy
    const FeatureFinder find = m_findFeature;
    const bool cancelled
        = RunAside(tr("缩放到最近的特征"), tr("正在寻找最近的特征..."), [&](const std::atomic<bool>& cancel) {
              answer = find(iteration, request, [&cancel] { return cancel.load(); });
          });
    if (cancelled) {
        answer.outcome = FeatureOutcome::Cancelled;
    }
    return answer;
}

void CFractalDlg::OnZoomToFeature(QPoint position)
{
    FeatureRequest request;
    if (!FeatureRequestAt(position, request)) {
        return;
    }
    EndDrag();
    const FeatureAnswer answer = FindFeatureAside(request);
    switch (answer.outcome) {
    case FeatureOutcome::Cancelled: return;
    case FeatureOutcome::NoVariable: ShowError(tr("迭代公式中没有变量 z，无法寻找特征。")); return;
    case FeatureOutcome::NotFound:
        m_services.ShowMessage(this, tr("视图中没有找到周期不超过 %1 的特征。").arg(kDefaultMaxPeriod),
            tr("缩放到最近的特征"), MessageIcon::Information, MessageButtons::Ok);
        return;
    case FeatureOutcome::Found: break;
    }
    const PlaneView view = FramingView(answer, m_script.GetImageWidth(), m_script.GetImageHeight());
    const BigFloat ratio = PreciseViewOf(view, 64).ratio;
    if (CheckViewScale(ratio) != ViewNumberError::None) {
        // Smaller than the deepest view a script holds: say where it is rather than go nowhere.
        m_services.ShowMessage(this,
            tr("找到周期 %1 的特征，但它太小，无法显示：\n%2, %3")
                .arg(answer.period)
                .arg(QString::fromStdString(answer.re), QString::fromStdString(answer.im)),
            tr("缩放到最近的特征"), MessageIcon::Information, MessageButtons::Ok);
        return;
    }
    PictureEdit edit;
    edit.view = view;
    Record(EditKind::Single, std::move(edit));
    m_nShownStage = 0;
    Repaint();
}
