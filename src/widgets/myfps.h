// The default frame rate of a window: the rate with which frame numbers are
// turned into seconds and back.
#pragma once

#include <QDialog>

class QLineEdit;

class MyFps : public QDialog
{
    Q_OBJECT

public:
    // Shows `fps`. Without `allowCancel` the Cancel button is disabled
    // (Escape still leaves the rate as it was).
    MyFps(double fps, bool allowCancel, QWidget *parent = nullptr);
    ~MyFps() override;

    // The rate taken by OK; until then the one shown first.
    double fps() const { return m_fps; }

public slots:
    // Takes the rate only when it lies within 0.1 to 200; otherwise the
    // field keeps the focus and the dialog stays open.
    void accept() override;

private:
    double m_fps;
    QLineEdit *m_field;
};
