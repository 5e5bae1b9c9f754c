#include "aids/title.h"

#include "controls/titlefield.h"
#include "core/cfgfile.h"

#include <QFileInfo>

Title::Title(TitleField *inpTitle, Log log, QObject *parent)
    : QObject(parent), m_field(inpTitle), m_log(std::move(log))
{
    connect(m_field, &TitleField::focusLost, this, &Title::INP_TITLE_LostFocus);
}

void Title::TITLE_LOAD()
{
    // Only the first line counts. A file with no byte at all, or one that cannot
    // be read, has no line to give and leaves the field as it is.
    const QStringList lines = cfgfile::readLines(m_fileName, 1);
    if (!lines.isEmpty())
        m_field->setText(lines.first());
}

bool Title::INP_TITLE_LostFocus()
{
    // Rewritten on every focus loss, changed or not.
    QString why;
    if (cfgfile::save(m_fileName, cfgfile::joinLines({m_field->text()}), &why))
        return true;
    if (m_log)
        m_log(QFileInfo(m_fileName).fileName() + QStringLiteral("= ") + why);
    return false;
}

#include "moc_title.cpp"
