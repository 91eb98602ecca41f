#include "ui/Main.h"

TFormMain::TFormMain(QWidget* parent) : QWidget(parent)
{
    setWindowTitle("Brimtale 1.6");
}
