#pragma once

#include <QObject>
#include <QString>

#include <functional>

class TitleField;

// The title line and its file "TITLE.CFG".
class Title : public QObject
{
    Q_OBJECT
public:
    using Log = std::function<void(const QString &message)>;

    // Wires the field's focus loss to INP_TITLE_LostFocus. `log` takes the one
    // line that tells the operator a save failed.
    Title(TitleField *inpTitle, Log log, QObject *parent = nullptr);

    void setFileName(const QString &fileName) { m_fileName = fileName; }
    QString fileName() const { return m_fileName; }

    void TITLE_LOAD();
    // False when the file could not be written; field and old file are then as
    // they were, and one log line names the file and the reason.
    bool INP_TITLE_LostFocus();

private:
    TitleField *m_field;
    Log m_log;
    QString m_fileName = QStringLiteral("TITLE.CFG");
};
