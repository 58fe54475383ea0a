#pragma once

#include <QString>
#include <QStringList>

// Fills a format of the string tables: "%@" takes the next argument, "%n$@" the n-th, "%%" is a
// percent sign; an argument the format asks for but was not given reads as "". Any other "%" stays.
QString formatWithObjects(QStringView format, const QStringList& arguments);
