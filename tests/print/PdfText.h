#pragma once

#include <QProcess>
#include <QRectF>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

// The words of a PDF with their pages (from 1) and boxes in points, as pdftotext reads them back.
struct PdfText {
    struct Word {
        int page = 0;
        QString text;
        QRectF box;
    };
    QList<QSizeF> pages;
    QList<Word> words;

    explicit PdfText(const QString& path)
    {
        QProcess process;
        process.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")});
        EXPECT_TRUE(process.waitForFinished(30000) && process.exitCode() == 0) << path.toStdString();
        static const QRegularExpression element(QStringLiteral(
            R"re(<page width="([\d.]+)" height="([\d.]+)">|<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)<)re"));
        for (auto it = element.globalMatch(QString::fromUtf8(process.readAllStandardOutput())); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const auto number = [&m](int i) { return m.captured(i).toDouble(); };
            if (m.capturedLength(1) > 0)
                pages.append({number(1), number(2)});
            else
                words.append({int(pages.size()), m.captured(7), QRectF(QPointF(number(3), number(4)), QPointF(number(5), number(6)))});
        }
    }

    // The first word with this text; page 0 when there is none.
    Word find(const QString& text) const
    {
        const auto it = std::find_if(words.begin(), words.end(), [&](const Word& w) { return w.text == text; });
        return it == words.end() ? Word() : *it;
    }

    QString joined() const
    {
        QStringList all;
        for (const Word& w : words)
            all += w.text;
        return all.join(u' ');
    }
};
