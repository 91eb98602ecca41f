// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ZQ_BrowseForFolder.h"

#include <QDir>
#include <QFileDialog>

QString BrowseForFolder(const QString& title, const QString& initialFolder, QWidget* owner)
{
    const QString start = !initialFolder.isEmpty() && QDir(initialFolder).exists() ? initialFolder : QString();
    return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
}
