#pragma once

#include <QList>
#include <QProcess>
#include <QRectF>
#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

// The words of a PDF with their boxes in points, read back by pdftotext.
struct PdfWord {
    int page;
    QString text;
    QRectF box;
};

struct PdfText {
    QList<QSizeF> pages;
    QList<PdfWord> words;

    static PdfText read(const QString& path)
    {
        QProcess process;
        process.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")});
        EXPECT_TRUE(process.waitForFinished(30000)) << "pdftotext did not finish";
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        static const QRegularExpression element(
            QStringLiteral(R"re(<page width="([\d.]+)" height="([\d.]+)">|<word xMin="([\d.]+)" yMin="([\d.]+)" )re"
                           R"re(xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
        PdfText text;
        const QString xhtml = QString::fromUtf8(process.readAllStandardOutput());
        for (auto it = element.globalMatch(xhtml); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            if (m.capturedLength(1) > 0) {
                text.pages.append(QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()));
                continue;
            }
            const QPointF topLeft(m.captured(3).toDouble(), m.captured(4).toDouble());
            const QPointF bottomRight(m.captured(5).toDouble(), m.captured(6).toDouble());
            text.words.append({int(text.pages.size()), m.captured(7), QRectF(topLeft, bottomRight)});
        }
        return text;
    }

    // The first word with this text; a default word (page 0) when there is none.
    PdfWord find(const QString& word) const
    {
        for (const PdfWord& w : words) {
            if (w.text == word)
                return w;
        }
        return {};
    }

    QString joined() const
    {
        QStringList all;
        for (const PdfWord& w : words)
            all += w.text;
        return all.join(u' ');
    }
};
