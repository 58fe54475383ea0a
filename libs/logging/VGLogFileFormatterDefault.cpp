#include "VGLogFileFormatterDefault.h"

#include "VGLogMessage.h"
#include "VGLogTimestamp.h"


VGLogFileFormatterDefault::VGLogFileFormatterDefault(DateFormatter dateFormatter)
    : dateFormatter_(std::move(dateFormatter))
{
}

std::optional<QString> VGLogFileFormatterDefault::formatLogMessage(const VGLogMessage& message)
{
    if (dateFormatter_)
        return dateFormatter_(message.timestamp()) + QStringLiteral("  ") + message.logMsg();
    const VGLogTimestamp t = VGLogTimestamp::local(message.timestamp());
    char stamp[VGLogTimestamp::Length + 2];
    t.write(stamp, '/');
    stamp[VGLogTimestamp::Length] = ' ';
    stamp[VGLogTimestamp::Length + 1] = ' ';
    QString line;
    line.reserve(qsizetype(sizeof stamp) + message.logMsg().size() + 1);
    line.append(QLatin1StringView(stamp, qsizetype(sizeof stamp)));
    line.append(message.logMsg());
    return line;
}
