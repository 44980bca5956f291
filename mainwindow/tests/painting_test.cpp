#include "fakeservices.h"
#include "fractaldlg.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(Painting, Snapshot)
{
    CFakeServices services;
    CFractalDlg window(services);
    window.Initialize(QString());
    window.show();
    QElapsedTimer timer;
    timer.start();
    while (window.Script().m_dPreviewProgress.load() < 1.0 && timer.elapsed() < 20000) {
        QTest::qWait(20);
    }
    QTest::qWait(50);
    window.ComposeClient().save("/tmp/client.png");
}

} // namespace
