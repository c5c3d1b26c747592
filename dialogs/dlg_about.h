#pragma once
// The about box: name, version, rights and the translator of the language in force.
#include "alphaform.h"
#include "ui_DlgQvAbout.h"

class TDlgQvAbout : public TAlphaForm {
    Q_OBJECT
public:
    explicit TDlgQvAbout(QWidget* owner);
    Ui::DlgQvAbout ui;
};

extern TDlgQvAbout* DlgQvAbout;
