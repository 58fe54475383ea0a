#include "VGLogFileFormatterDefault.h"

#include "VGLogMessage.h"
#include "VGLogTimestamp.h"

#include <QStringEncoder>

#include <algorithm>


VGLogFileFormatterDefault::VGLogFileFormatterDefault(DateFormatter dateFormatter)
    : dateFormatter_(std::move(dateFormatter))
{
}

namespace {

// "yyyy/MM/dd HH:mm:ss:SSS" in local time and the two blanks after it.
constexpr qsizetype StampBytes = VGLogTimestamp::Length + 2;

void writeStamp(char* stamp, double timestamp)
{
    VGLogTimestamp::write(stamp, timestamp, '/');
    stamp[VGLogTimestamp::Length] = ' ';
    stamp[VGLogTimestamp::Length + 1] = ' ';
}

} // namespace

std::optional<QString> VGLogFileFormatterDefault::formatLogMessage(const VGLogMessage& message)
{
    if (dateFormatter_)
        return dateFormatter_(message.timestamp()) + QStringLiteral("  ") + message.logMsg();
    char stamp[StampBytes];
    writeStamp(stamp, message.timestamp());
    QString line;
    line.reserve(StampBytes + message.logMsg().size() + 1);
    line.append(QLatin1StringView(stamp, StampBytes));
    line.append(message.logMsg());
    return line;
}

void VGLogFileFormatterDefault::appendLine(const VGLogMessage& message, QByteArray& out) const
{
    const qsizetype start = out.size();
    const QString& text = message.logMsg();
    out.resize(start + StampBytes);
    writeStamp(out.data() + start, message.timestamp());
    // Encoded in place; a text with a surrogate takes the longer way, which
    // writes an unpaired one as toUtf8() does.
    if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSurrogate(); })) {
        out.append(text.toUtf8());
        return;
    }
    QStringEncoder encoder(QStringEncoder::Utf8);
    out.resize(start + StampBytes + encoder.requiredSpace(text.size()));
    out.truncate(encoder.appendToBuffer(out.data() + start + StampBytes, text) - out.constData());
}
