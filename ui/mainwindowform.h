// SPDX-License-Identifier: MIT
#pragma once

// The form is drawn in Qt Designer (mainwindow.ui) and compiled by uic. Its class keeps the
// designer name "MainWindow" so that every caption is translated in the "MainWindow" context.
#include "ui_mainwindow.h"

class MainWindowForm : public Ui_MainWindow
{
};
