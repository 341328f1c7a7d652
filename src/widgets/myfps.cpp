#include "widgets/myfps.h"

#include "widgets/dialogframe.h"

#include <QLineEdit>
#include <QPushButton>

MyFps::MyFps(double fps, bool allowCancel, QWidget *parent) : QDialog(parent), m_fps(fps)
{
    setObjectName(QStringLiteral("my_fps"));
    setModal(true);
    const DialogButtons buttons = addOkCancel(this, 40, 130, 90);
    buttons.cancel->setEnabled(allowCancel);
    addLabel(this, QStringLiteral("FPS value:"), QRect(10, 20, 230, 15));
    m_field = addNumberField(this, Fields::frameRate, QRect(20, 50, 210, 20));
    m_field->setText(shortNumber(fps));
    m_field->setObjectName(QStringLiteral("fps"));
    m_field->setFocus();
    fitToFont(this);
}

MyFps::~MyFps() = default;

void MyFps::accept()
{
    // A rate of 0 would turn every frame number into garbage.
    double rate = m_fps;
    if (readNumberFields(this, {{m_field, &rate}})) {
        m_fps = rate;
        done(QDialog::Accepted);
    }
}
