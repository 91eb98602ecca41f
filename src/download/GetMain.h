#pragma once
// The window of the download mode.

#include <QWidget>

class TFormGetMain : public QWidget {
    Q_OBJECT
public:
    explicit TFormGetMain(QWidget* parent = nullptr);
};
