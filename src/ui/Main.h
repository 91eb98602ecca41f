#pragma once
// The main window of the interactive mode.

#include <QWidget>

class TFormMain : public QWidget {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
};
