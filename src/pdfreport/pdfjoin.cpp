#include "pdfreport/pdfjoin.h"

#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <set>

namespace {

// A written PDF read as its numbered objects, each the bytes from its
// "n 0 obj" to its "endobj".
struct WrittenPdf
{
    QByteArray bytes;
    qsizetype firstObject = 0;
    std::map<int, std::pair<qsizetype, qsizetype>> objects; // number -> [begin, end)
    std::vector<int> order;                                 // the numbers as they come in the file
    int info = 0, root = 0, pageTree = 0;
    std::vector<int> kids;

    QByteArray object(int number) const
    {
        const auto &[begin, end] = objects.at(number);
        return bytes.mid(begin, end - begin);
    }
};

Result<int> referenceAfter(const QByteArray &text, const char *key)
{
    static const QRegularExpression reference(QStringLiteral("^\\s*(\\d+) 0 R"));
    const qsizetype at = text.indexOf(key);
    if (at < 0)
        return fail(QStringLiteral("没有 %1").arg(QString::fromLatin1(key)));
    const auto match = reference.match(QString::fromLatin1(text.mid(at + qsizetype(qstrlen(key)), 24)));
    if (!match.hasMatch())
        return fail(QStringLiteral("%1 不是对象引用").arg(QString::fromLatin1(key)));
    return match.captured(1).toInt();
}

// Offsets of the objects in use, from the cross-reference table.
Result<WrittenPdf> readWrittenPdf(const QByteArray &bytes)
{
    WrittenPdf pdf;
    pdf.bytes = bytes;
    if (!bytes.startsWith("%PDF-"))
        return fail(QStringLiteral("不是 PDF 文件"));
    const qsizetype start = bytes.lastIndexOf("startxref");
    if (start < 0)
        return fail(QStringLiteral("找不到交叉引用表"));
    bool ok = false;
    const qsizetype xref = bytes.mid(start + 9, 24).trimmed().split('\n').value(0).trimmed().toLongLong(&ok);
    if (!ok || xref <= 0 || xref >= start || !QByteArrayView(bytes).sliced(xref).startsWith("xref\n0 "))
        return fail(QStringLiteral("交叉引用表的位置不对"));
    const qsizetype countEnd = bytes.indexOf('\n', xref + 5);
    const int count = bytes.mid(xref + 7, countEnd - xref - 7).trimmed().toInt(&ok);
    if (!ok || count < 2 || countEnd + 1 + qsizetype(count) * 20 > start)
        return fail(QStringLiteral("交叉引用表的条目数不对"));
    std::vector<std::pair<qsizetype, int>> offsets;
    for (int n = 0; n < count; ++n) {
        const QByteArray entry = bytes.mid(countEnd + 1 + qsizetype(n) * 20, 20);
        if (entry.size() != 20 || entry[17] == 'f')
            continue;
        if (entry[17] != 'n')
            return fail(QStringLiteral("交叉引用表第 %1 条不可读").arg(n));
        const qsizetype offset = entry.left(10).toLongLong(&ok);
        if (!ok || offset <= 0 || offset >= xref)
            return fail(QStringLiteral("对象 %1 的位置不对").arg(n));
        offsets.push_back({offset, n});
    }
    std::sort(offsets.begin(), offsets.end());
    pdf.firstObject = offsets.empty() ? xref : offsets.front().first;
    for (size_t i = 0; i < offsets.size(); ++i) {
        const auto [begin, number] = offsets[i];
        const qsizetype next = i + 1 < offsets.size() ? offsets[i + 1].first : xref;
        const qsizetype end = bytes.lastIndexOf("endobj", next);
        if (!QByteArrayView(bytes).sliced(begin).startsWith(QByteArray::number(number) + " 0 obj") || end < begin)
            return fail(QStringLiteral("对象 %1 不在交叉引用表所指的位置").arg(number));
        pdf.objects[number] = {begin, end + 6};
        pdf.order.push_back(number);
    }
    const QByteArray trailer = bytes.mid(countEnd + 1 + qsizetype(count) * 20, start);
    auto root = referenceAfter(trailer, "/Root");
    auto info = referenceAfter(trailer, "/Info");
    if (!root || !info)
        return fail(QStringLiteral("文件尾不可读：%1").arg(root ? info.error() : root.error()));
    pdf.root = *root;
    pdf.info = *info;
    if (!pdf.objects.count(pdf.root) || !pdf.objects.count(pdf.info))
        return fail(QStringLiteral("文件尾所指的对象不存在"));
    auto tree = referenceAfter(pdf.object(pdf.root), "/Pages");
    if (!tree || !pdf.objects.count(*tree))
        return fail(QStringLiteral("找不到页面树"));
    pdf.pageTree = *tree;
    const QByteArray pages = pdf.object(pdf.pageTree);
    const qsizetype kidsAt = pages.indexOf("/Kids"), open = pages.indexOf('[', kidsAt), close = pages.indexOf(']', open);
    if (kidsAt < 0 || open < 0 || close < 0)
        return fail(QStringLiteral("页面树没有页面列表"));
    static const QRegularExpression kid(QStringLiteral("(\\d+) 0 R"));
    for (const auto &m : kid.globalMatch(QString::fromLatin1(pages.mid(open, close - open))))
        pdf.kids.push_back(m.captured(1).toInt());
    static const QRegularExpression countOf(QStringLiteral("/Count (\\d+)"));
    const auto counted = countOf.match(QString::fromLatin1(pages));
    if (!counted.hasMatch() || counted.captured(1).toInt() != int(pdf.kids.size()))
        return fail(QStringLiteral("页面树的页数与页面列表不符"));
    for (const int page : pdf.kids)
        if (!pdf.objects.count(page))
            return fail(QStringLiteral("页面对象 %1 不存在").arg(page));
    return pdf;
}

// `text` (an object outside its stream data) with every reference "n 0 R"
// and its own "n 0 obj" renumbered by `number`; strings are left as they are.
QByteArray renumbered(const QByteArray &text, const std::map<int, int> &number)
{
    QByteArray out;
    out.reserve(text.size() + 16);
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto digit = [&](qsizetype at) { return at < n && text[at] >= '0' && text[at] <= '9'; };
    while (i < n) {
        const char c = text[i];
        if (c == '(') { // a literal string, with its escapes and nested brackets
            int depth = 0;
            const qsizetype from = i;
            for (; i < n; ++i) {
                if (text[i] == '\\') {
                    ++i;
                    continue;
                }
                depth += text[i] == '(' ? 1 : text[i] == ')' ? -1 : 0;
                if (depth == 0) {
                    ++i;
                    break;
                }
            }
            out += text.mid(from, i - from);
            continue;
        }
        if (digit(i) && (i == 0 || !(digit(i - 1) || text[i - 1] == '.' || text[i - 1] == '-'))) {
            qsizetype j = i;
            while (digit(j))
                ++j;
            const QByteArray rest = text.mid(j, 6);
            const bool reference = rest.startsWith(" 0 R") && !(rest.size() > 4 && QChar(rest[4]).isLetterOrNumber());
            const bool header = rest.startsWith(" 0 obj");
            if (reference || header) {
                const int old = text.mid(i, j - i).toInt();
                const auto found = number.find(old);
                out += QByteArray::number(found == number.end() ? old : found->second);
                i = j;
                continue;
            }
            out += text.mid(i, j - i);
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

// The object with its references renumbered, its stream data (after the
// dictionary's "stream" keyword) copied as it is.
QByteArray renumberedObject(const QByteArray &object, const std::map<int, int> &number)
{
    const qsizetype stream = object.indexOf(">>\nstream\n");
    if (stream < 0)
        return renumbered(object, number);
    return renumbered(object.left(stream + 2), number) + object.mid(stream + 2);
}

// A font subset's six-letter tag ("ABCDEF+") not yet taken.
QByteArray freshTag(std::set<QByteArray> &taken)
{
    QByteArray tag("AAAAAA");
    for (int k = 0;; ++k) {
        int v = k;
        for (int i = 5; i >= 0; --i, v /= 26)
            tag[i] = char('A' + v % 26);
        if (taken.insert(tag).second)
            return tag;
    }
}

} // namespace

Result<QByteArray> joinWrittenPdfs(const std::vector<QByteArray> &parts)
{
    if (parts.empty())
        return fail(QStringLiteral("没有要合并的 PDF"));
    std::vector<WrittenPdf> read;
    for (size_t k = 0; k < parts.size(); ++k) {
        auto pdf = readWrittenPdf(parts[k]);
        if (!pdf)
            return fail(QStringLiteral("第 %1 部分无法合并：%2").arg(k + 1).arg(pdf.error()));
        read.push_back(std::move(*pdf));
    }
    const WrittenPdf &first = read.front();
    // Every part after the first: its objects numbered on after the last
    // taken, its catalog, information and page tree left out.
    std::vector<std::map<int, int>> numbers(read.size());
    int next = first.objects.rbegin()->first + 1;
    std::vector<int> kids = first.kids;
    for (size_t k = 1; k < read.size(); ++k) {
        for (const int n : read[k].order)
            if (n != read[k].root && n != read[k].info && n != read[k].pageTree)
                numbers[k][n] = next++;
        numbers[k][read[k].pageTree] = first.pageTree; // each page's /Parent
        for (const int kid : read[k].kids)
            kids.push_back(numbers[k].at(kid));
    }
    // Subset fonts carry a tag; a later part's that the first already uses
    // is given another, so that no reader takes one subset for the other.
    static const QRegularExpression tagged(QStringLiteral("/([A-Z]{6})\\+"));
    std::set<QByteArray> taken;
    std::vector<std::map<QByteArray, QByteArray>> retag(read.size());
    for (size_t k = 0; k < read.size(); ++k)
        for (const int n : read[k].order) {
            const QByteArray object = read[k].object(n);
            const qsizetype stream = object.indexOf(">>\nstream\n");
            const QByteArray head = stream < 0 ? object : object.left(stream);
            if (!head.contains("/FontName") && !head.contains("/BaseFont"))
                continue;
            for (const auto &m : tagged.globalMatch(QString::fromLatin1(head))) {
                const QByteArray tag = m.captured(1).toLatin1();
                if (k == 0)
                    taken.insert(tag);
                else if (!retag[k].count(tag))
                    retag[k][tag] = taken.insert(tag).second ? tag : freshTag(taken);
            }
        }

    QByteArray out = first.bytes.left(first.firstObject);
    std::map<int, qsizetype> offsets;
    const auto put = [&](int number, const QByteArray &object) {
        offsets[number] = out.size();
        out += object;
        out += '\n';
    };
    for (const int n : first.order) {
        if (n != first.pageTree) {
            put(n, first.object(n));
            continue;
        }
        QByteArray tree = first.object(n);
        const qsizetype open = tree.indexOf('[', tree.indexOf("/Kids")), close = tree.indexOf(']', open);
        QByteArray list("[\n");
        for (const int kid : kids)
            list += QByteArray::number(kid) + " 0 R\n";
        tree.replace(open, close - open, list);
        tree.replace(QByteArray("/Count ") + QByteArray::number(qsizetype(first.kids.size())),
                     QByteArray("/Count ") + QByteArray::number(qsizetype(kids.size())));
        put(n, tree);
    }
    for (size_t k = 1; k < read.size(); ++k)
        for (const int n : read[k].order) {
            if (n == read[k].root || n == read[k].info || n == read[k].pageTree)
                continue;
            QByteArray object = renumberedObject(read[k].object(n), numbers[k]);
            for (const auto &[from, to] : retag[k])
                if (from != to && object.contains("/" + from + "+")) {
                    const qsizetype stream = object.indexOf(">>\nstream\n");
                    QByteArray head = stream < 0 ? object : object.left(stream);
                    head.replace("/" + from + "+", "/" + to + "+");
                    object = stream < 0 ? head : head + object.mid(stream);
                }
            put(numbers[k].at(n), object);
        }
    const int size = offsets.rbegin()->first + 1;
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(size) + "\n";
    for (int n = 0; n < size; ++n) {
        const auto found = offsets.find(n);
        out += found == offsets.end() ? QByteArray("0000000000 65535 f \n")
                                      : QByteArray::number(found->second).rightJustified(10, '0') + " 00000 n \n";
    }
    out += "trailer\n<<\n/Size " + QByteArray::number(size) + "\n/Info " + QByteArray::number(first.info)
           + " 0 R\n/Root " + QByteArray::number(first.root) + " 0 R\n>>\nstartxref\n" + QByteArray::number(xref)
           + "\n%%EOF\n";
    return out;
}
