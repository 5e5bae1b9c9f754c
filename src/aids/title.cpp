#include "aids/title.h"

#include "controls/titlefield.h"
#include "core/cfgfile.h"

Title::Title(TitleField *inpTitle, QObject *parent) : QObject(parent), m_field(inpTitle)
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
    return cfgfile::save(m_fileName, cfgfile::joinLines({m_field->text()}));
}
