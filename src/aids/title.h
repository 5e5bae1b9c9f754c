#pragma once

#include <QObject>
#include <QString>

class TitleField;

// The title line and its file "TITLE.CFG".
class Title : public QObject
{
    Q_OBJECT
public:
    // Wires the field's focus loss to INP_TITLE_LostFocus.
    explicit Title(TitleField *inpTitle, QObject *parent = nullptr);

    void setFileName(const QString &fileName) { m_fileName = fileName; }
    QString fileName() const { return m_fileName; }

    void TITLE_LOAD();
    // False when the file could not be written; field and old file are then as they were.
    bool INP_TITLE_LostFocus();

private:
    TitleField *m_field;
    QString m_fileName = QStringLiteral("TITLE.CFG");
};
