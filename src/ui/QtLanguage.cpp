// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/QtLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool UseQtLanguage(bool polish)
{
    static QTranslator* polishQt = nullptr;
    if (!QCoreApplication::instance())
        return false;
    if (!polish) {
        if (polishQt)
            QCoreApplication::removeTranslator(polishQt);
        return true;
    }
    if (!polishQt) {
        auto* translator = new QTranslator(QCoreApplication::instance());
        if (!translator->load(QLocale(QLocale::Polish), "qtbase", "_",
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            delete translator;
            return false;
        }
        polishQt = translator;
    }
    // Installing it again moves it to the front; it is never there twice.
    QCoreApplication::installTranslator(polishQt);
    return true;
}
