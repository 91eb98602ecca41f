#include "download/GetMain.h"

TFormGetMain::TFormGetMain(QWidget* parent) : QWidget(parent)
{
    setWindowTitle("Downloading...");
}
