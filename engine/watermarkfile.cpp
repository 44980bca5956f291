#include "watermarkfile.h"

#include <QFile>

#include <atomic>

namespace {

std::atomic<CWatermarkFile*> s_pCurrent {
    nullptr
}; // the living instance, set and cleared on the main thread

} // namespace

CWatermarkFile::CWatermarkFile()
{
    // A failure here is silent: exports and the preview then go without the watermark.
    if (!m_dir.isValid()) {
        return;
    }
    m_cleanup.emplace(m_dir.path(), CRemovedOnSignal::Kind::Folder);
    const QString path = m_dir.filePath(QString::fromLatin1(kWatermarkFileName));
    QFile::remove(path);
    if (QFile::copy(QString::fromLatin1(kWatermarkResource), path)) {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        m_strPath = path;
    }
    s_pCurrent.store(this);
}

CWatermarkFile::~CWatermarkFile()
{
    CWatermarkFile* self = this;
    s_pCurrent.compare_exchange_strong(self, nullptr);
}

QString CWatermarkFile::Path()
{
    const CWatermarkFile* current = s_pCurrent.load();
    return current ? current->m_strPath : QString();
}
