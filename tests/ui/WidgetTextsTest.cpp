// SPDX-License-Identifier: GPL-3.0-or-later
// How the texts come out on the widgets: the doubled "&" of the YouTube group
// box and the two-line button caption.

#include "UiTestSupport.h"

#include "app/Settings.h"
#include "ui/New.h"

#include <QGroupBox>
#include <QPushButton>
#include <QImage>
#include <QtTest>

namespace {
// Horizontal extent in pixels of the dark (text) pixels of a group box title.
int TitleInkWidth(const QString& title, const QFont& font)
{
    QGroupBox box(title);
    box.setFont(font);
    box.resize(box.fontMetrics().horizontalAdvance(title) * 2 + 60, box.fontMetrics().height() * 3);
    const QImage image = box.grab().toImage();
    const int rows = box.fontMetrics().height() + 4;
    int left = image.width(), right = -1;
    for (int y = 0; y < std::min(rows, image.height()); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (QColor(image.pixel(x, y)).lightness() < 110) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return right < 0 ? 0 : right - left + 1;
}
} // namespace

class TWidgetTextsTest : public QObject {
    Q_OBJECT
private slots:
    void doubledAmpersandShowsOnce()
    {
        TProgramFolder folder;
        TFormNew dialog(nullptr);
        const QString title = dialog.gbYoutubeFormats->title();
        QCOMPARE(title, QString("YouTube video format && quality"));
        // Drawn, "W&&W" is one "&" narrower than "W&&&&W": each pair shows as one "&"
        // (drawn as they stand, the difference would be two).
        const QFont font = dialog.gbYoutubeFormats->font();
        const int amp = dialog.gbYoutubeFormats->fontMetrics().horizontalAdvance('&');
        const int extra = TitleInkWidth("W&&&&W", font) - TitleInkWidth("W&&W", font);
        QVERIFY2(std::abs(extra - amp) <= 1, qPrintable(QString("extra %1, one & %2").arg(extra).arg(amp)));
    }

    void checkFormatsCaptionHasTwoLines()
    {
        for (bool polish : {false, true}) {
            TProgramFolder folder;
            AppSettings.LangPolish = polish;
            TFormNew dialog(nullptr);
            const QString caption = dialog.btnCheckFormats->text();
            QCOMPARE(caption.count('\n'), 1);
            QPushButton oneLine(caption.section('\n', 0, 0));
            oneLine.setFont(dialog.btnCheckFormats->font());
            QVERIFY(dialog.btnCheckFormats->sizeHint().height() >=
                    oneLine.sizeHint().height() + dialog.btnCheckFormats->fontMetrics().height() / 2);
        }
    }
};

int RunTextsOnWidgetsTests(int argc, char** argv)
{
    TWidgetTextsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WidgetTextsTest.moc"
