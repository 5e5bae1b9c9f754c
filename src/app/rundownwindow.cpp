#include "app/rundownwindow.h"

#include "core/rundown.h"
#include "rundown/runningorder.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { ColNumber, ColTitle, ColTime, ColAuto, ColNote };

QPushButton *button(const QString &text, const QString &name, const QString &description,
                    QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAccessibleName(QString(text).remove(QLatin1Char('&')).remove(QStringLiteral("...")));
    b->setAccessibleDescription(description);
    return b;
}

} // namespace

RundownWindow::RundownWindow(RunningOrder &rundown, QWidget *parent)
    : QWidget(parent, Qt::Window), m_rundown(rundown)
{
    setObjectName(QStringLiteral("F_RUNDOWN"));
    setWindowTitle(QStringLiteral("Running order"));
    setAccessibleName(QStringLiteral("Running order"));
    resize(640, 420);

    LST_RUNDOWN = new QTreeWidget(this);
    LST_RUNDOWN->setObjectName(QStringLiteral("LST_RUNDOWN"));
    LST_RUNDOWN->setAccessibleName(QStringLiteral("Segments"));
    LST_RUNDOWN->setAccessibleDescription(
        QStringLiteral("The running order; Enter or a double-click loads the segment"));
    LST_RUNDOWN->setHeaderLabels({QStringLiteral("#"), QStringLiteral("Title"),
                                  QStringLiteral("Time"), QStringLiteral("Auto"),
                                  QStringLiteral("Note")});
    LST_RUNDOWN->setRootIsDecorated(false);
    LST_RUNDOWN->setUniformRowHeights(true);
    LST_RUNDOWN->setAllColumnsShowFocus(true);
    LST_RUNDOWN->header()->setStretchLastSection(true);
    // Fitted to the bold current row and its mark too, so nothing is elided.
    for (int c = ColNumber; c < ColNote; ++c)
        LST_RUNDOWN->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);

    B_RUNDOWN_PREV = button(QStringLiteral("&Previous"), QStringLiteral("B_RUNDOWN_PREV"),
                            QStringLiteral("Loads the previous segment (Ctrl+PageUp)"), this);
    B_RUNDOWN_LOAD = button(QStringLiteral("&Load"), QStringLiteral("B_RUNDOWN_LOAD"),
                            QStringLiteral("Loads the selected segment"), this);
    B_RUNDOWN_NEXT = button(QStringLiteral("&Next"), QStringLiteral("B_RUNDOWN_NEXT"),
                            QStringLiteral("Loads the next segment (Ctrl+PageDown)"), this);
    B_RUNDOWN_IMPORT
        = button(QStringLiteral("&Import..."), QStringLiteral("B_RUNDOWN_IMPORT"),
                 QStringLiteral("Reads a CSV file, checks it and saves it as RUNDOWN.CSV"), this);

    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {B_RUNDOWN_PREV, B_RUNDOWN_LOAD, B_RUNDOWN_NEXT})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(B_RUNDOWN_IMPORT);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(LST_RUNDOWN);
    layout->addLayout(buttons);
    setTabOrder(LST_RUNDOWN, B_RUNDOWN_PREV);
    setTabOrder(B_RUNDOWN_PREV, B_RUNDOWN_LOAD);
    setTabOrder(B_RUNDOWN_LOAD, B_RUNDOWN_NEXT);
    setTabOrder(B_RUNDOWN_NEXT, B_RUNDOWN_IMPORT);

    m_choose = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Import a running order"),
                                            QString(),
                                            QStringLiteral("CSV files (*.csv);;All files (*)"));
    };
    connect(B_RUNDOWN_LOAD, &QPushButton::clicked, this, &RundownWindow::B_RUNDOWN_LOAD_Click);
    connect(B_RUNDOWN_IMPORT, &QPushButton::clicked, this, &RundownWindow::B_RUNDOWN_IMPORT_Click);
    connect(B_RUNDOWN_NEXT, &QPushButton::clicked, this, [this] { step(1); });
    connect(B_RUNDOWN_PREV, &QPushButton::clicked, this, [this] { step(-1); });
    connect(LST_RUNDOWN, &QTreeWidget::itemActivated, this, &RundownWindow::B_RUNDOWN_LOAD_Click);
    connect(&m_rundown, &RunningOrder::changed, this, &RundownWindow::refresh);
    refresh();
    LST_RUNDOWN->setFocus();
}

void RundownWindow::refresh()
{
    const QList<rundown::Segment> &segments = m_rundown.segments();
    const int current = m_rundown.current();
    // Rebuilt only when the list changed; a cue only moves the mark.
    if (m_shownRevision != m_rundown.revision()) {
        m_shownRevision = m_rundown.revision();
        LST_RUNDOWN->clear();
        QList<QTreeWidgetItem *> items;
        for (qsizetype i = 0; i < segments.size(); ++i) {
            const rundown::Segment &s = segments[i];
            auto *item = new QTreeWidgetItem;
            item->setText(ColNumber, QString::number(i + 1));
            item->setText(ColTitle, s.title);
            item->setText(ColTime, s.duration >= 0
                                       ? rundown::timeText(s.duration)
                                       : QStringLiteral("until ") + rundown::timeText(s.until));
            item->setText(ColAuto, s.autoNext ? QStringLiteral("auto") : QString());
            item->setText(ColNote,
                          QString(s.note).replace(QLatin1Char('\n'), QStringLiteral(" / ")));
            item->setToolTip(ColNote, s.note);
            items.append(item);
        }
        LST_RUNDOWN->addTopLevelItems(items);
    }
    for (int i = 0; i < LST_RUNDOWN->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = LST_RUNDOWN->topLevelItem(i);
        const bool isCurrent = i + 1 == current;
        QFont font = item->font(ColTitle);
        font.setBold(isCurrent);
        for (int c = ColNumber; c <= ColNote; ++c)
            item->setFont(c, font);
        // Marked for the eye and for a screen reader alike.
        item->setText(ColNumber,
                      (isCurrent ? QStringLiteral("\u25B6 ") : QString()) + QString::number(i + 1));
        item->setData(ColTitle, Qt::AccessibleTextRole,
                      isCurrent ? item->text(ColTitle) + QStringLiteral(" (current)")
                                : item->text(ColTitle));
    }
    if (current >= 1 && current <= LST_RUNDOWN->topLevelItemCount()) {
        QTreeWidgetItem *item = LST_RUNDOWN->topLevelItem(current - 1);
        LST_RUNDOWN->setCurrentItem(item);
        LST_RUNDOWN->scrollToItem(item);
    }
}

void RundownWindow::B_RUNDOWN_LOAD_Click()
{
    QTreeWidgetItem *item = LST_RUNDOWN->currentItem();
    if (!item)
        return;
    report(m_rundown.cue(LST_RUNDOWN->indexOfTopLevelItem(item) + 1, false, QString()));
}

void RundownWindow::step(int delta)
{
    report(m_rundown.step(delta, false, QString()));
}

void RundownWindow::B_RUNDOWN_IMPORT_Click()
{
    const QString path = m_choose ? m_choose() : QString();
    if (path.isEmpty())
        return;
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (m_log)
            m_log(name + QStringLiteral("= ") + file.errorString());
        return;
    }
    QString why;
    const QByteArray bytes = file.read(rundown::kMaxFileBytes + 1);
    if (m_rundown.replace(bytes, RunningOrder::Format::Csv, QStringLiteral("IMPORT ") + name, &why)
            == RunningOrder::Replaced::Refused
        && m_log)
        m_log(name + QStringLiteral("= ") + why); // a save failure is logged where it happens
}

void RundownWindow::report(const QString &why)
{
    if (!why.isEmpty() && m_log)
        m_log(QStringLiteral("CUE: ") + why);
}

#include "moc_rundownwindow.cpp"
