#include "widgets/saveformat.h"

#include "files/savingformat.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>

SaveFormatDialog::SaveFormatDialog(QWidget *parent, FileFormat *format)
    : QDialog(parent), m_format(format)
{
    setObjectName(QStringLiteral("save_format"));
    setWindowTitle(QStringLiteral("Save with Encoding"));
    setModal(true);

    m_encoding = new QComboBox(this);
    m_encoding->setObjectName(QStringLiteral("encoding"));
    m_encoding->addItems(savingEncodings());
    // A file read one byte per character has no encoding to keep: UTF-8 is
    // proposed instead.
    const qsizetype current = savingEncodings().indexOf(format->encoding);
    m_encoding->setCurrentIndex(current >= 0 ? int(current) : m_encoding->findText(QStringLiteral("UTF-8")));
    m_bom = new QCheckBox(QStringLiteral("&Byte-order mark"), this);
    m_bom->setObjectName(QStringLiteral("bom"));
    m_bom->setChecked(format->bom);
    m_lf = new QRadioButton(QStringLiteral("&LF (Linux, macOS)"), this);
    m_lf->setObjectName(QStringLiteral("lf"));
    m_crlf = new QRadioButton(QStringLiteral("&CR LF (Windows, TVs)"), this);
    m_crlf->setObjectName(QStringLiteral("crlf"));
    (format->lineEnds == LineEnds::CRLF ? m_crlf : m_lf)->setChecked(true);

    auto *ends = new QHBoxLayout;
    ends->addWidget(m_lf);
    ends->addWidget(m_crlf);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("&Encoding:"), m_encoding);
    form->addRow(QString(), m_bom);
    form->addRow(QStringLiteral("Line ends:"), ends);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SaveFormatDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_encoding, &QComboBox::currentTextChanged, this, &SaveFormatDialog::encodingChosen);
    encodingChosen();
}

void SaveFormatDialog::encodingChosen()
{
    const QString name = m_encoding->currentText();
    const bool unicode = name.startsWith(u"UTF");
    m_bom->setEnabled(unicode);
    // The file's own encoding shows the mark as the file has it. Another
    // UTF-16 or UTF-32 one proposes a mark, which tells any program what
    // the file is; UTF-8 keeps what was chosen.
    if (name == m_format->encoding)
        m_bom->setChecked(m_format->bom);
    else if (!unicode || !name.startsWith(u"UTF-8"))
        m_bom->setChecked(unicode);
}

void SaveFormatDialog::accept()
{
    m_format->encoding = m_encoding->currentText();
    m_format->bom = m_bom->isChecked();
    m_format->lineEnds = m_crlf->isChecked() ? LineEnds::CRLF : LineEnds::LF;
    QDialog::accept();
}
