// The About box: the logo, what the program is, and an OK button.
#pragma once

#include <QDialog>

class MyAbout : public QDialog
{
    Q_OBJECT

public:
    explicit MyAbout(QWidget *parent = nullptr);
    ~MyAbout() override;
};
