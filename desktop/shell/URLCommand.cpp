#include "URLCommand.h"

#include <QStringDecoder>
#include <QUrl>

namespace {

const QString Prefix = QStringLiteral("brindlewick://");

// The raw pieces of a "brindlewick://host/path?query#fragment" text.
struct Pieces {
    QString host;
    QString path;
    QString query;
};

Pieces split(const QString& text)
{
    QString rest = text.mid(Prefix.size());
    rest = rest.left(rest.indexOf(QLatin1Char('#')) < 0 ? rest.size() : rest.indexOf(QLatin1Char('#')));
    const qsizetype question = rest.indexOf(QLatin1Char('?'));
    Pieces pieces;
    if (question >= 0) {
        pieces.query = rest.mid(question + 1);
        rest.truncate(question);
    }
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    pieces.host = slash < 0 ? rest : rest.left(slash);
    pieces.path = slash < 0 ? QString() : rest.mid(slash);
    return pieces;
}

URLCommand selection(int storage, const QString& tag, const QString& rawQuery)
{
    URLCommand command;
    command.kind = URLCommand::Kind::SelectStorage;
    command.storage = storage;
    command.tag = tag;
    command.query = URLCommand::unescape(rawQuery);
    return command;
}

URLCommand brindlewickCommand(const Pieces& url)
{
    URLCommand command;
    if (url.host == QLatin1String("guide")) {
        command.kind = URLCommand::Kind::Guide;
    } else if (url.host == QLatin1String("inbox")) {
        command = selection(1, QString(), url.query);
    } else if (url.host == QLatin1String("archive")) {
        command = selection(2, QString(), url.query);
    } else if (url.host == QLatin1String("hashtag") || url.host == QLatin1String("mention")) {
        // Everything after the first slash is the tag, further slashes included.
        const QString tag = URLCommand::unescape(url.path.mid(1)).toLower();
        if (!tag.isEmpty())
            command = selection(url.host == QLatin1String("hashtag") ? 4 : 5, tag, url.query);
    } else if (url.host == QLatin1String("bugreport")) {
        command.kind = URLCommand::Kind::BugReport;
        command.query = URLCommand::unescape(url.query);
    } else if (url.host == QLatin1String("settings")) {
        command.kind = URLCommand::Kind::Settings;
        command.parameters = URLCommand::splitParameters(url.query);
    }
    return command;
}

} // namespace

URLCommand URLCommand::parse(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return {};
    if (text.startsWith(Prefix))
        return brindlewickCommand(split(text));
    URLCommand command;
    if (url.isLocalFile()) {
        command.kind = Kind::OpenFile;
        command.filePath = url.toLocalFile();
    }
    return command;
}

QList<URLCommand::Parameter> URLCommand::splitParameters(const QString& rawQuery)
{
    QList<Parameter> parameters;
    if (rawQuery.isEmpty())
        return parameters;
    for (const QString& piece : rawQuery.split(QLatin1Char('&'))) {
        const qsizetype equals = piece.indexOf(QLatin1Char('='));
        if (equals >= 0)
            parameters.append({piece.left(equals), piece.mid(equals + 1)});
    }
    return parameters;
}

bool URLCommand::isOn(const QString& value)
{
    return !value.isEmpty() && QStringLiteral("on|yes|true|1").contains(value.toLower());
}

QString URLCommand::unescape(const QString& text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString result = decoder.decode(QByteArray::fromPercentEncoding(text.toUtf8()));
    return decoder.hasError() ? QString() : result;
}
