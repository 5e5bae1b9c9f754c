#include "core/keyproof.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <iterator>

namespace keyproof {

QByteArray challenge()
{
    quint32 words[4];
    QRandomGenerator::system()->generate(std::begin(words), std::end(words));
    return QByteArray(reinterpret_cast<const char *>(words), sizeof(words)).toHex();
}

QByteArray answer(const QByteArray &token, const QByteArray &challenge)
{
    return QMessageAuthenticationCode::hash(challenge, token, QCryptographicHash::Sha256).toHex();
}

bool proves(const QByteArray &token, const QByteArray &challenge, const QByteArray &given)
{
    if (token.isEmpty() || challenge.isEmpty())
        return false;
    const QByteArray expected = answer(token, challenge);
    if (given.size() != expected.size())
        return false;
    unsigned char differs = 0;
    for (qsizetype i = 0; i < expected.size(); ++i)
        differs |= static_cast<unsigned char>(expected[i] ^ given[i]);
    return differs == 0;
}

} // namespace keyproof
