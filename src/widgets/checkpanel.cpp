#include "widgets/checkpanel.h"

#include "widgets/checkrules.h"
#include "widgets/myeditor.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QTextBlock>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// An edit of more lines than this is followed by checking the whole text
// again, which reads it on two threads.
constexpr qsizetype wholeAgainFrom = 2000;

enum Column { LineColumn, KindColumn, DetailColumn, TextColumn, Columns };

} // namespace

// The problems of a CheckList, all or those of one kind, for the view; its
// line texts come from the document when they are shown.
class ProblemModel : public QAbstractTableModel
{
public:
    ProblemModel(const CheckList &list, const QTextDocument *document, QObject *parent)
        : QAbstractTableModel(parent), m_list(list), m_document(document)
    {
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_count);
    }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : Columns;
    }

    // The problem the view has in `row`. While a change is told, rows keep
    // what they had until the view is told otherwise.
    CheckProblem problemAt(int row) const
    {
        qsizetype at = row;
        qsizetype shift = 0;
        if (m_stage != Stage::Told && row >= m_at) {
            const qsizetype end = m_at + (m_stage == Stage::Old ? m_gone : std::min(m_gone, m_come));
            if (row < end)
                return m_old[size_t(row - m_at)];
            if (m_stage == Stage::Old || row >= m_at + m_come) {
                at = m_stage == Stage::Old ? row - m_gone + m_come : row;
                shift = m_shift;
            }
        }
        CheckProblem p = m_list.problems()[size_t(m_kind < 0 ? at : m_rows[size_t(at)])];
        p.line -= shift;
        if (p.kind == CheckKind::Overlap || p.kind == CheckKind::Order || p.kind == CheckKind::Gap)
            p.other -= shift;
        return p;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const char *const titles[] = {"Line", "Kind", "Detail", "Text"};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < Columns)
            return QString::fromLatin1(titles[section]);
        return QVariant();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_count)
            return QVariant();
        if (role == Qt::TextAlignmentRole)
            return index.column() == LineColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
            return QVariant();
        const CheckProblem p = problemAt(index.row());
        const CheckKindInfo &info = kindInfo(p.kind);
        switch (index.column()) {
        case LineColumn:
            return role == Qt::DisplayRole ? QVariant(qlonglong(p.line + 1)) : QVariant();
        case KindColumn:
            if (role == Qt::DisplayRole)
                return QString::fromLatin1(info.title);
            return QString::fromLatin1(info.rule).arg(limitText(m_list.rules().limitOf(p.kind)));
        case DetailColumn:
            return problemDetail(p, m_document->findBlockByNumber(int(p.line)).text(), m_list.rules());
        case TextColumn: {
            const QString line = m_document->findBlockByNumber(int(p.line)).text();
            int format;
            double show, hide;
            QStringView text;
            m_engine.fps = m_list.fps();
            return m_engine.readLine(line, format, show, hide, text) ? text.toString() : line;
        }
        }
        return QVariant();
    }

    // Lists only `kind`, or every kind for -1.
    void setKind(int kind)
    {
        m_kind = kind;
        refill();
    }
    // Everything anew, after the list was checked again.
    void refill()
    {
        beginResetModel();
        m_rows.clear();
        if (m_kind >= 0) {
            const std::vector<CheckProblem> &all = m_list.problems();
            for (size_t i = 0; i < all.size(); ++i) {
                if (int(all[i].kind) == m_kind)
                    m_rows.push_back(qsizetype(i));
            }
        }
        m_count = m_kind < 0 ? qsizetype(m_list.problems().size()) : qsizetype(m_rows.size());
        endResetModel();
    }

    // Around CheckList::replaceLines(), which changes the list at once: the
    // view hears first of the rows that go or come, and then of the rows
    // that changed in place (so that a row chosen stays chosen) and of the
    // lines that moved.
    void aboutToChange(const CheckList::Change &change, const std::vector<CheckProblem> &added)
    {
        const auto mine = [this](const CheckProblem &p) { return m_kind < 0 || int(p.kind) == m_kind; };
        if (m_kind < 0) {
            m_at = change.first;
            m_gone = change.removed;
        } else {
            m_at = std::lower_bound(m_rows.begin(), m_rows.end(), change.first) - m_rows.begin();
            m_gone = std::lower_bound(m_rows.begin(), m_rows.end(), change.first + change.removed) - m_rows.begin()
                    - m_at;
        }
        m_come = std::count_if(added.begin(), added.end(), mine);
        m_shift = change.shift;
        m_old.clear();
        for (qsizetype row = m_at; row < m_at + m_gone; ++row)
            m_old.push_back(problemAt(int(row)));
        if (m_gone > m_come)
            beginRemoveRows(QModelIndex(), int(m_at + m_come), int(m_at + m_gone - 1));
    }

    void changed(const CheckList::Change &change)
    {
        if (m_kind >= 0) {
            const auto first = m_rows.begin() + m_at;
            const auto after = m_rows.erase(first, first + m_gone);
            for (auto it = after; it != m_rows.end(); ++it)
                *it += change.added - change.removed;
            std::vector<qsizetype> come;
            for (qsizetype i = change.first; i < change.first + change.added; ++i) {
                if (int(m_list.problems()[size_t(i)].kind) == m_kind)
                    come.push_back(i);
            }
            m_rows.insert(m_rows.begin() + m_at, come.begin(), come.end());
        }
        m_stage = Stage::Old;
        if (m_gone > m_come) {
            m_stage = Stage::Counted;
            m_count -= m_gone - m_come;
            endRemoveRows();
        } else if (m_come > m_gone) {
            beginInsertRows(QModelIndex(), int(m_at + m_gone), int(m_at + m_come - 1));
            m_stage = Stage::Counted;
            m_count += m_come - m_gone;
            endInsertRows();
        }
        m_stage = Stage::Told;
        const qsizetype kept = std::min(m_gone, m_come);
        if (kept > 0)
            emit dataChanged(index(int(m_at), 0), index(int(m_at + kept - 1), Columns - 1));
        if (m_shift != 0 && m_at + m_come < m_count)
            emit dataChanged(index(int(m_at + m_come), 0), index(int(m_count - 1), Columns - 1));
    }

private:
    const CheckList &m_list;
    const QTextDocument *m_document;
    int m_kind = -1;
    std::vector<qsizetype> m_rows; // with a kind: its problems, by their place in the list
    qsizetype m_count = 0;
    // A change being told: from row m_at, m_gone rows went and m_come came,
    // whose problems were m_old; the lines after them moved by m_shift.
    // Old: the list has changed, the view knows nothing yet; Counted: the
    // view knows how many rows there are; Told: it knows everything.
    enum class Stage { Told, Old, Counted };
    Stage m_stage = Stage::Told;
    qsizetype m_at = 0, m_gone = 0, m_come = 0, m_shift = 0;
    std::vector<CheckProblem> m_old;
    mutable SubEngine m_engine;
};

CheckPanel::CheckPanel(MyEditor *editor, QWidget *parent)
    : QDockWidget(QStringLiteral("Check"), parent), m_editor(editor)
{
    setObjectName(QStringLiteral("checkPanel"));
    auto *body = new QWidget(this);
    m_kinds = new QTreeWidget(body);
    m_kinds->setObjectName(QStringLiteral("checkKinds"));
    m_kinds->setColumnCount(2);
    m_kinds->setHeaderHidden(true);
    m_kinds->setRootIsDecorated(false);
    m_kinds->setUniformRowHeights(true);
    m_kinds->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_kinds->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *all = new QTreeWidgetItem(m_kinds, QStringList{QStringLiteral("All problems")});
    all->setData(0, Qt::UserRole, -1);
    for (const CheckKindInfo &info : checkKinds()) {
        auto *item = new QTreeWidgetItem(m_kinds, QStringList{QString::fromLatin1(info.title)});
        item->setData(0, Qt::UserRole, int(info.kind));
    }
    for (int i = 0; i < m_kinds->topLevelItemCount(); ++i)
        m_kinds->topLevelItem(i)->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    m_kinds->setCurrentItem(all);
    m_kinds->header()->setStretchLastSection(false);
    m_kinds->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_kinds->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    m_problems = new QTableView(body);
    m_problems->setObjectName(QStringLiteral("checkProblems"));
    m_model = new ProblemModel(m_list, editor->document(), this);
    m_problems->setModel(m_model);
    m_problems->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_problems->setSelectionMode(QAbstractItemView::SingleSelection);
    m_problems->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_problems->setShowGrid(false);
    m_problems->setWordWrap(false);
    m_problems->verticalHeader()->hide();
    m_problems->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_problems->horizontalHeader()->setStretchLastSection(true);
    m_problems->horizontalHeader()->setHighlightSections(false);

    m_fix = new QPushButton(QStringLiteral("F&ix"), body);
    m_fix->setObjectName(QStringLiteral("fixTimes"));
    m_fix->setToolTip(QStringLiteral("Move hide times to mend overlaps, short gaps and too short subtitles, "
                                     "as one step to undo; show times stay"));
    auto *rules = new QPushButton(QStringLiteral("&Rules..."), body);
    rules->setObjectName(QStringLiteral("checkRules"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_fix);
    buttons->addWidget(rules);
    buttons->addStretch(1);
    auto *column = new QVBoxLayout(body);
    column->addWidget(m_kinds);
    column->addWidget(m_problems, 1);
    column->addLayout(buttons);
    setWidget(body);

    connect(m_kinds, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        if (item)
            showKind(item->data(0, Qt::UserRole).toInt());
    });
    connect(m_problems, &QAbstractItemView::activated, this, [this](const QModelIndex &index) {
        goToRow(index.row());
    });
    connect(m_fix, &QPushButton::clicked, this, &CheckPanel::fix);
    connect(rules, &QPushButton::clicked, this, &CheckPanel::chooseRules);
    fitColumns();
}

CheckPanel::~CheckPanel() = default;

void CheckPanel::changeEvent(QEvent *event)
{
    QDockWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitColumns();
}

void CheckPanel::fitColumns()
{
    const QFontMetrics metrics = m_problems->fontMetrics();
    const int margin = 3 * m_problems->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_problems) + 8;
    int kindWidth = metrics.horizontalAdvance(QStringLiteral("Kind"));
    for (const CheckKindInfo &info : checkKinds())
        kindWidth = std::max(kindWidth, metrics.horizontalAdvance(QString::fromLatin1(info.title)));
    m_problems->setColumnWidth(LineColumn, metrics.horizontalAdvance(QStringLiteral("000000")) + margin);
    m_problems->setColumnWidth(KindColumn, kindWidth + margin);
    m_problems->setColumnWidth(DetailColumn,
                               metrics.horizontalAdvance(QStringLiteral("line 00000 shows 0000 ms later")) + margin);
    m_problems->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
    // The panel takes room for those and the start of the text.
    int width = 2 * m_problems->frameWidth() + m_problems->style()->pixelMetric(QStyle::PM_ScrollBarExtent)
            + metrics.horizontalAdvance(QStringLiteral("Text of a subtitle"));
    for (int c = LineColumn; c < TextColumn; ++c)
        width += m_problems->columnWidth(c);
    m_problems->setMinimumWidth(width);
    showCounts();
}

void CheckPanel::setRules(const CheckRules &rules)
{
    m_list.setRules(rules);
    recheck();
}

void CheckPanel::recheck()
{
    m_list.setFps(m_editor->fps);
    QString text = m_editor->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    m_list.reset(text);
    m_lines = m_editor->document()->blockCount();
    m_model->refill();
    showCounts();
}

void CheckPanel::follow(int position, int /*removed*/, int added)
{
    const QTextDocument *document = m_editor->document();
    const int lines = document->blockCount();
    const QTextBlock firstBlock = document->findBlock(position);
    const QTextBlock lastBlock = document->findBlock(std::min(position + added, document->characterCount() - 1));
    const qsizetype first = firstBlock.blockNumber();
    const qsizetype made = lastBlock.blockNumber() - first + 1;
    const qsizetype gone = made - (lines - m_lines);
    if (!firstBlock.isValid() || !lastBlock.isValid() || gone < 0 || first + gone > m_list.lineCount()
        || made > wholeAgainFrom || m_editor->fps != m_list.fps()) {
        recheck();
        return;
    }
    m_lines = lines;
    // The lines are asked for in order, mostly one after the other.
    QTextBlock block = firstBlock;
    auto lineAt = [&block, document](qsizetype line) {
        if (block.isValid() && block.blockNumber() + 1 == line)
            block = block.next();
        else if (!block.isValid() || block.blockNumber() != line)
            block = document->findBlockByNumber(int(line));
        return block.text();
    };
    const CheckList::Change change = m_list.replaceLines(
            first, gone, made, lineAt,
            [this](const CheckList::Change &c, const std::vector<CheckProblem> &come) { m_model->aboutToChange(c, come); });
    m_model->changed(change);
    showCounts();
}

void CheckPanel::showCounts()
{
    // Only what changed is set: each change costs the list a new layout.
    auto setCount = [](QTreeWidgetItem *item, qsizetype count) {
        const QString text = QString::number(count);
        if (item->text(1) != text)
            item->setText(1, text);
    };
    qsizetype total = 0;
    bool fixable = false;
    int shown = 1;
    for (int i = 1; i < m_kinds->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_kinds->topLevelItem(i);
        const auto kind = CheckKind(item->data(0, Qt::UserRole).toInt());
        const qsizetype count = m_list.count(kind);
        total += count;
        fixable = fixable || (count > 0 && kindInfo(kind).fixable);
        setCount(item, count);
        // Kinds not found stay out of the way, unless chosen.
        const bool hidden = count == 0 && item != m_kinds->currentItem();
        if (item->isHidden() != hidden)
            item->setHidden(hidden);
        shown += !hidden;
    }
    setCount(m_kinds->topLevelItem(0), total);
    m_fix->setEnabled(fixable);
    const int height = shown * m_kinds->sizeHintForRow(0) + 2 * m_kinds->frameWidth();
    if (m_kinds->height() != height)
        m_kinds->setFixedHeight(height);
}

void CheckPanel::showKind(int kind)
{
    m_model->setKind(kind);
    showCounts();
}

void CheckPanel::focusProblems()
{
    m_problems->setFocus();
}

void CheckPanel::goToRow(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    const QTextBlock block = m_editor->document()->findBlockByNumber(int(m_model->problemAt(row).line));
    if (!block.isValid())
        return;
    m_editor->setTextCursor(QTextCursor(block));
    m_editor->centerCursor();
    m_editor->setFocus();
}

void CheckPanel::fix()
{
    const QString text = m_editor->text();
    FixCounts counts;
    const QList<TextEdit> edits = hideTimeFixes(text, m_list.rules(), m_editor->fps, counts);
    if (!edits.isEmpty())
        m_editor->replaceParts(edits, text);
    emit fixed(QStringLiteral("Fix: ") + describeFixes(counts));
}

void CheckPanel::chooseRules()
{
    CheckRules rules = m_list.rules();
    CheckRulesDialog dialog(this, &rules);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    // Without a window manager nothing hands the keyboard back.
    if (window()->isVisible())
        window()->activateWindow();
    if (accepted && rules != m_list.rules())
        setRules(rules);
}

void CheckPanel::showEvent(QShowEvent *event)
{
    QDockWidget::showEvent(event);
    if (!m_following) {
        m_following = connect(m_editor->document(), &QTextDocument::contentsChange, this, &CheckPanel::follow);
        recheck();
    }
}

void CheckPanel::hideEvent(QHideEvent *event)
{
    QDockWidget::hideEvent(event);
    // A panel out of sight costs the typing nothing.
    if (!isVisible()) {
        disconnect(m_following);
        m_following = {};
    }
}
