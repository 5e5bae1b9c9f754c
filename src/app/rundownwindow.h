#pragma once

#include <QWidget>

#include <functional>

class QPushButton;
class QTreeWidget;
class RunningOrder;

// The running order as a list, in a window of its own beside the console's
// fixed one: the current segment marked, each row's note shown, Load (or a
// double-click, or Enter), Next, Previous, and Import of a CSV file.
class RundownWindow : public QWidget
{
    Q_OBJECT
public:
    using Log = std::function<void(const QString &message)>;
    using ChooseFile = std::function<QString()>; // a path, or empty when cancelled

    RundownWindow(RunningOrder &rundown, QWidget *parent = nullptr);

    void setLog(Log log) { m_log = std::move(log); }
    // A file dialog by default; tests hand in a path.
    void setFileChooser(ChooseFile choose) { m_choose = std::move(choose); }

    QTreeWidget *LST_RUNDOWN = nullptr;
    QPushButton *B_RUNDOWN_PREV = nullptr;
    QPushButton *B_RUNDOWN_LOAD = nullptr;
    QPushButton *B_RUNDOWN_NEXT = nullptr;
    QPushButton *B_RUNDOWN_IMPORT = nullptr;

    void B_RUNDOWN_LOAD_Click();
    void B_RUNDOWN_IMPORT_Click();

private:
    void refresh();
    void step(int delta);
    void report(const QString &why);

    RunningOrder &m_rundown;
    Log m_log;
    ChooseFile m_choose;
    int m_shownRevision = -1; // the list as last drawn
};
