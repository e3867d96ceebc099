#include "layout/curvelayout.h"

#include "base/textnumber.h"

#include <QFile>
#include <QStringDecoder>

namespace {

QString decodeLayoutText(const QByteArray &content)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(content);
    if (utf8.hasError()) {
        QStringDecoder gbk("GBK");
        text = gbk.isValid() ? gbk.decode(content) : QString::fromLatin1(content);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

// Trims U+0020 only: a tab is part of the text.
QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

std::pair<double *, double *> fieldsOf(CurveLayout &layout, QStringView key)
{
    if (key == u"图幅大小")
        return {&layout.SheetWidth, &layout.SheetHeight};
    if (key == u"基点位置")
        return {&layout.BaseOffsetX, &layout.BaseOffsetY};
    if (key == u"时间轴")
        return {&layout.TimeRange, &layout.TimeLength};
    if (key == u"曲线轴")
        return {&layout.CurveRange, &layout.CurveLength};
    if (key == u"辅助轴")
        return {&layout.AuxRange, &layout.AuxLength};
    if (key == u"图例位置")
        return {&layout.LegendX, &layout.LegendY};
    return {nullptr, nullptr};
}

} // namespace

QString layoutSection(CurveKind kind)
{
    switch (kind) {
    case CurveKind::Rate:
        return QStringLiteral("速率曲线");
    case CurveKind::Load:
        return QStringLiteral("荷载曲线");
    case CurveKind::Settlement:
        break;
    }
    return QStringLiteral("沉降曲线");
}

CurveLayout parseCurveLayout(const QByteArray &content, const QString &section)
{
    CurveLayout layout;
    const QString text = decodeLayoutText(content);
    QString current; // the section before the first header has no name
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != QLatin1Char('\r')
               && text[end] != QLatin1Char('\n'))
            ++end;
        const QStringView line = trimBlanks(QStringView(text).mid(start, end - start));
        start = end + 1;
        if (end < text.size() && text[end] == QLatin1Char('\r') && start < text.size()
            && text[start] == QLatin1Char('\n'))
            ++start;

        if (line.size() >= 2 && line.front() == QLatin1Char('[')
            && line.back() == QLatin1Char(']')) {
            current = line.mid(1, line.size() - 2).toString();
            continue;
        }
        if (current != section || line.isEmpty())
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const auto [first, second] = fieldsOf(layout, trimBlanks(line.left(equals)));
        if (!first)
            continue;
        const QStringView value = trimBlanks(line.mid(equals + 1));
        const qsizetype comma = value.indexOf(QLatin1Char(','));
        if (comma < 0)
            continue;
        *first = leadingNumber(value.left(comma).toString());
        *second = leadingNumber(value.mid(comma + 1).toString());
    }
    return layout;
}

CurveLayout LoadCurveLayout(const QString &path, CurveKind kind)
{
    if (path.isEmpty())
        return CurveLayout();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return CurveLayout();
    return parseCurveLayout(file.readAll(), layoutSection(kind));
}
