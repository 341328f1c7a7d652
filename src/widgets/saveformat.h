// The encoding, byte-order mark and line ends a text is saved in.
#pragma once

#include "files/textcodec.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QRadioButton;

class SaveFormatDialog : public QDialog
{
    Q_OBJECT

public:
    // Shows `*format`; OK writes the choice back, Cancel leaves it alone.
    SaveFormatDialog(QWidget *parent, FileFormat *format);

public slots:
    void accept() override;

private:
    // A byte-order mark only for the encodings that have one.
    void encodingChosen();

    FileFormat *m_format;
    QComboBox *m_encoding;
    QCheckBox *m_bom;
    QRadioButton *m_lf;
    QRadioButton *m_crlf;
};
