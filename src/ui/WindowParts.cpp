// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/WindowParts.h"

#include "base/ZQ_Strings.h"

#include <QImageReader>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

bool UpdatingControls = false;

namespace {
bool SvgSupported()
{
    static const bool supported = QImageReader::supportedImageFormats().contains("svg");
    return supported;
}
} // namespace

// The resources live in a static library: they are registered by hand.
static void InitResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(brimtale);
        return true;
    }();
    (void)done;
}

QIcon ApplicationIcon()
{
    InitResources();
    QIcon icon;
    if (SvgSupported())
        icon.addFile(":/icons/brimtale.svg");
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/icons/brimtale-%1.png").arg(size), QSize(size, size));
    return icon;
}

QIcon ButtonGlyph(const QString& name)
{
    InitResources();
    QIcon icon;
    if (SvgSupported())
        icon.addFile(QString(":/icons/%1.svg").arg(name));
    for (int size : {16, 32})
        icon.addFile(QString(":/icons/%1-%2.png").arg(name).arg(size), QSize(size, size));
    return icon;
}

std::string FirstLineOf(const QString& text, std::size_t maxBytes)
{
    qsizetype end = text.size();
    const qsizetype cr = text.indexOf(QChar('\r'));
    const qsizetype lf = text.indexOf(QChar('\n'));
    if (cr >= 0)
        end = std::min(end, cr);
    if (lf >= 0)
        end = std::min(end, lf);
    // Every character takes at least one byte, so the cut below never needs more.
    const qsizetype keep = std::min<qsizetype>(end, static_cast<qsizetype>(maxBytes));
    return Utf8Cut(text.left(keep).toStdString(), maxBytes);
}

QString FirstLocalFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}
