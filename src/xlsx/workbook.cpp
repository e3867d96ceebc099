#include "xlsx/workbook.h"
#include "xlsx/xlsxstyles.h"

#include "base/savefile.h"


#include <QDir>
#include <QFile>
#include <QBuffer>
#include <QFileInfo>
#include <QRegularExpression>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <pugixml.hpp>

#include <zlib.h>

#include <algorithm>
#include <functional>
#include <string_view>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

namespace {

// The most one entry of a workbook may inflate to, and how many times its
// stored size.
constexpr qint64 maxEntrySize = 256 << 20;
constexpr qint64 maxEntryRatio = 1000;

} // namespace

XlsxWorkbook::XlsxWorkbook() = default;
XlsxWorkbook::~XlsxWorkbook() = default;

Result<void> XlsxWorkbook::open(const QString &path)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip)) {
        return fail(QStringLiteral("无法打开工作簿 %1（不是 .xlsx 文件或已损坏）")
                     .arg(QDir::toNativeSeparators(path)));
    }
    qint64 total = 0;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::ReadOnly)) {
            return fail(QStringLiteral("无法读取工作簿 %1：%2")
                         .arg(QDir::toNativeSeparators(path), zip.getCurrentFileName()));
        }
        // An entry is read only up to a bound, whatever its header claims:
        // a small file must not unpack into gigabytes.
        const qint64 stored = std::max<qint64>(file.csize(), 1);
        const qint64 bound = std::min(maxEntrySize, std::max<qint64>(stored * maxEntryRatio, 1 << 20));
        QByteArray data;
        char buffer[1 << 16];
        for (;;) {
            const qint64 got = file.read(buffer, sizeof buffer);
            if (got < 0) {
                return fail(QStringLiteral("无法读取工作簿 %1：%2 已损坏")
                             .arg(QDir::toNativeSeparators(path), zip.getCurrentFileName()));
            }
            if (got == 0)
                break;
            if (data.size() + got > bound || total + data.size() + got > 2 * maxEntrySize) {
                return fail(QStringLiteral("无法读取工作簿 %1：%2 解压后过大（超过 %3 MB 或压缩比异常）")
                             .arg(QDir::toNativeSeparators(path), zip.getCurrentFileName())
                             .arg(bound >> 20));
            }
            data.append(buffer, qsizetype(got));
        }
        total += data.size();
        m_entries.emplace_back(zip.getCurrentFileName(), std::move(data));
        file.close();
    }
    return loadParts(path);
}

Result<void> XlsxWorkbook::create(const QString &sheetName,
                                  const std::vector<double> &columnWidths)
{
    const QByteArray main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const QByteArray relations =
        "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    m_entries.clear();
    m_entries.emplace_back(
        QStringLiteral("[Content_Types].xml"),
        declaration
            + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
              "<Default Extension=\"rels\" ContentType=\"application/"
              "vnd.openxmlformats-package.relationships+xml\"/>"
              "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
              "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
              "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
              "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>");
    m_entries.emplace_back(
        QStringLiteral("_rels/.rels"),
        declaration
            + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
              "<Relationship Id=\"rId1\" Type=\"" + relations + "/officeDocument\" "
              "Target=\"xl/workbook.xml\"/></Relationships>");
    pugi::xml_document book;
    pugi::xml_node root = book.append_child("workbook");
    root.append_attribute("xmlns") = main.constData();
    root.append_attribute("xmlns:r") = relations.constData();
    pugi::xml_node sheet = root.append_child("sheets").append_child("sheet");
    sheet.append_attribute("name") = sheetName.toUtf8().constData();
    sheet.append_attribute("sheetId") = 1;
    sheet.append_attribute("r:id") = "rId1";
    std::ostringstream bookXml;
    book.save(bookXml, "", pugi::format_raw | pugi::format_no_declaration);
    m_entries.emplace_back(QStringLiteral("xl/workbook.xml"),
                           declaration + QByteArray::fromStdString(bookXml.str()));
    m_entries.emplace_back(
        QStringLiteral("xl/_rels/workbook.xml.rels"),
        declaration
            + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
              "<Relationship Id=\"rId1\" Type=\"" + relations + "/worksheet\" "
              "Target=\"worksheets/sheet1.xml\"/>"
              "<Relationship Id=\"rId2\" Type=\"" + relations + "/styles\" "
              "Target=\"styles.xml\"/></Relationships>");
    m_entries.emplace_back(
        QStringLiteral("xl/styles.xml"),
        declaration + "<styleSheet xmlns=\"" + main + "\">"
            "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"宋体\"/></font></fonts>"
            "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
            "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
            "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
            "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
            "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
            "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
            "</styleSheet>");
    QByteArray sheetXml = "<worksheet xmlns=\"" + main + "\" xmlns:r=\"" + relations + "\">";
    if (!columnWidths.empty()) {
        sheetXml += "<cols>";
        for (size_t c = 0; c < columnWidths.size(); ++c)
            sheetXml += QStringLiteral("<col min=\"%1\" max=\"%1\" width=\"%2\" customWidth=\"1\"/>")
                            .arg(c + 1)
                            .arg(columnWidths[c])
                            .toUtf8();
        sheetXml += "</cols>";
    }
    sheetXml += "<sheetData/></worksheet>";
    m_entries.emplace_back(QStringLiteral("xl/worksheets/sheet1.xml"), declaration + sheetXml);
    return loadParts(QStringLiteral("（新工作簿）"));
}

Result<void> XlsxWorkbook::loadParts(const QString &path)
{
    auto entry = [this](const QString &name) -> const QByteArray * {
        for (const auto &[n, data] : m_entries)
            if (n == name)
                return &data;
        return nullptr;
    };
    const QByteArray *workbook = entry(QStringLiteral("xl/workbook.xml"));
    const QByteArray *rels = entry(QStringLiteral("xl/_rels/workbook.xml.rels"));
    if (!workbook || !rels) {
        return fail(QStringLiteral("%1 不是 Excel 工作簿").arg(QDir::toNativeSeparators(path)));
    }
    pugi::xml_document relsDoc;
    relsDoc.load_buffer(rels->constData(), size_t(rels->size()));
    std::map<QString, QString> targets;
    for (const pugi::xml_node &rel : relsDoc.child("Relationships").children("Relationship")) {
        QString target = QString::fromUtf8(rel.attribute("Target").value());
        target =
            target.startsWith(QLatin1Char('/')) ? target.mid(1) : QStringLiteral("xl/") + target;
        targets[QString::fromUtf8(rel.attribute("Id").value())] = QDir::cleanPath(target);
    }
    pugi::xml_document workbookDoc;
    workbookDoc.load_buffer(workbook->constData(), size_t(workbook->size()));
    for (const pugi::xml_node &sheet :
         workbookDoc.child("workbook").child("sheets").children("sheet")) {
        const QString id = QString::fromUtf8(sheet.attribute("r:id").value());
        const QString name = QString::fromUtf8(sheet.attribute("name").value());
        if (targets.count(id)) {
            m_sheetEntries[name] = targets[id];
            m_sheetOrder << name;
        }
    }
    if (const QByteArray *styles = entry(QStringLiteral("xl/styles.xml"))) {
        // Which cell styles show a date: the built-in date formats and any
        // format of its own whose code names days or years.
        pugi::xml_document doc;
        doc.load_buffer(styles->constData(), size_t(styles->size()));
        const pugi::xml_node sheetStyles = doc.child("styleSheet");
        std::set<int> dateFormats{14, 15, 16, 17, 18, 19, 20, 21, 22, 45, 46, 47};
        const QRegularExpression literals(QStringLiteral("\\[[^\\]]*\\]|\"[^\"]*\""));
        for (const pugi::xml_node &format : sheetStyles.child("numFmts").children("numFmt")) {
            QString code = QString::fromUtf8(format.attribute("formatCode").value()).toLower();
            code.remove(literals);
            if (code.contains(QLatin1Char('y')) || code.contains(QLatin1Char('d')))
                dateFormats.insert(format.attribute("numFmtId").as_int());
        }
        for (const pugi::xml_node &xf : sheetStyles.child("cellXfs").children("xf"))
            m_dateStyles.push_back(dateFormats.count(xf.attribute("numFmtId").as_int()) > 0);
        auto cellStyles = std::make_unique<XlsxStyles>();
        if (cellStyles->load(*styles))
            m_styles = std::move(cellStyles);
    }
    if (const QByteArray *shared = entry(QStringLiteral("xl/sharedStrings.xml"))) {
        pugi::xml_document doc;
        doc.load_buffer(shared->constData(), size_t(shared->size()));
        for (const pugi::xml_node &si : doc.child("sst").children("si")) {
            QString text;
            for (const pugi::xpath_node &t : si.select_nodes(".//t"))
                text += QString::fromUtf8(t.node().text().get());
            m_sharedStrings.push_back(text);
        }
    }
    return success();
}

Result<XlsxSheet *> XlsxWorkbook::sheet(const QString &name)
{
    const auto found = m_sheetEntries.find(name);
    if (found == m_sheetEntries.end()) {
        return fail(QStringLiteral("工作簿中没有工作表“%1”").arg(name));
    }
    const QString &entryName = found->second;
    if (const auto loaded = m_sheets.find(entryName); loaded != m_sheets.end())
        return loaded->second.get();
    for (const auto &[n, data] : m_entries) {
        if (n != entryName)
            continue;
        auto sheet = std::make_unique<XlsxSheet>();
        sheet->m_sharedStrings = &m_sharedStrings;
        sheet->m_dateStyles = &m_dateStyles;
        sheet->m_styles = m_styles.get();
        if (auto loaded = sheet->load(data); !loaded)
            return loaded.failure();
        return (m_sheets[entryName] = std::move(sheet)).get();
    }
    return fail(QStringLiteral("工作簿中缺少工作表“%1”的内容").arg(name));
}

namespace {

// A part written back after a change: the XML declaration, then the document.
QByteArray xmlPart(const pugi::xml_document &doc)
{
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n")
           + QByteArray::fromStdString(out.str());
}

} // namespace

Result<void> XlsxWorkbook::setPrintTitles(const QString &name, int first, int last)
{
    QByteArray *workbookPart = nullptr;
    for (auto &[entry, data] : m_entries)
        if (entry == QLatin1String("xl/workbook.xml"))
            workbookPart = &data;
    pugi::xml_document workbook;
    if (!workbookPart || !workbook.load_buffer(workbookPart->constData(), size_t(workbookPart->size()))) {
        return fail(QStringLiteral("工作簿无法读取：缺少 xl/workbook.xml"));
    }
    pugi::xml_node root = workbook.child("workbook");
    pugi::xml_node sheets = root.child("sheets");
    int index = 0, found = -1;
    for (const pugi::xml_node &sheet : sheets.children("sheet")) {
        if (QString::fromUtf8(sheet.attribute("name").value()) == name)
            found = index;
        ++index;
    }
    if (found < 0) {
        return fail(QStringLiteral("工作簿中没有工作表“%1”").arg(name));
    }
    pugi::xml_node names = root.child("definedNames");
    if (!names) {
        pugi::xml_node after = sheets;
        for (const char *next : {"functionGroups", "externalReferences"})
            if (pugi::xml_node node = root.child(next))
                after = node;
        names = root.insert_child_after("definedNames", after);
    }
    for (pugi::xml_node defined = names.child("definedName"); defined;) {
        const pugi::xml_node next = defined.next_sibling("definedName");
        if (std::strcmp(defined.attribute("name").value(), "_xlnm.Print_Titles") == 0
            && defined.attribute("localSheetId").as_int(-1) == found)
            names.remove_child(defined);
        defined = next;
    }
    pugi::xml_node titles = names.append_child("definedName");
    titles.append_attribute("name") = "_xlnm.Print_Titles";
    titles.append_attribute("localSheetId") = found;
    QString quoted = name;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    titles.text().set(QStringLiteral("'%1'!$%2:$%3").arg(quoted).arg(first).arg(last).toUtf8().constData());
    *workbookPart = xmlPart(workbook);
    return success();
}

Result<XlsxSheet *> XlsxWorkbook::addSheet(const QString &name, const QString &after,
                                          const std::vector<double> &columnWidths)
{
    const auto part = [this](const QString &entryName) -> QByteArray * {
        for (auto &[n, data] : m_entries)
            if (n == entryName)
                return &data;
        return nullptr;
    };
    QByteArray *workbookPart = part(QStringLiteral("xl/workbook.xml"));
    QByteArray *relsPart = part(QStringLiteral("xl/_rels/workbook.xml.rels"));
    QByteArray *typesPart = part(QStringLiteral("[Content_Types].xml"));
    const qsizetype position = m_sheetOrder.indexOf(after);
    if (m_sheetEntries.count(name) || position < 0 || !workbookPart || !relsPart || !typesPart) {
        return fail(QStringLiteral("无法在工作簿中添加工作表“%1”").arg(name));
    }
    pugi::xml_document workbook, rels, types;
    workbook.load_buffer(workbookPart->constData(), size_t(workbookPart->size()));
    rels.load_buffer(relsPart->constData(), size_t(relsPart->size()));
    types.load_buffer(typesPart->constData(), size_t(typesPart->size()));
    pugi::xml_node sheets = workbook.child("workbook").child("sheets");
    pugi::xml_node relationships = rels.child("Relationships");
    pugi::xml_node typeList = types.child("Types");
    if (!sheets || !relationships || !typeList) {
        return fail(QStringLiteral("无法在工作簿中添加工作表“%1”").arg(name));
    }
    // A sheet number, a relationship id and a part name nobody uses yet.
    unsigned sheetId = 0;
    for (const pugi::xml_node &sheet : sheets.children("sheet"))
        sheetId = std::max(sheetId, sheet.attribute("sheetId").as_uint());
    std::set<std::string> ids;
    for (const pugi::xml_node &rel : relationships.children("Relationship"))
        ids.insert(rel.attribute("Id").value());
    int n = 1;
    while (ids.count("rId" + std::to_string(n)))
        ++n;
    const std::string id = "rId" + std::to_string(n);
    int file = 1;
    while (part(QStringLiteral("xl/worksheets/sheet%1.xml").arg(file)))
        ++file;
    const QString entryName = QStringLiteral("xl/worksheets/sheet%1.xml").arg(file);

    pugi::xml_node previous = sheets.child("sheet");
    for (qsizetype i = 0; i < position && previous; ++i)
        previous = previous.next_sibling("sheet");
    pugi::xml_node added = sheets.insert_child_after("sheet", previous);
    // The prefix is declared here as well: the workbook may declare it only
    // on the sheets it had.
    added.append_attribute("xmlns:r") =
        "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    added.append_attribute("name") = name.toUtf8().constData();
    added.append_attribute("sheetId") = sheetId + 1;
    added.append_attribute("r:id") = id.c_str();
    // Names local to a sheet count sheets by place: those after the new one
    // move up by one.
    for (pugi::xml_node defined :
         workbook.child("workbook").child("definedNames").children("definedName"))
        if (pugi::xml_attribute local = defined.attribute("localSheetId");
            local && local.as_int() > position)
            local = local.as_int() + 1;
    pugi::xml_node rel = relationships.append_child("Relationship");
    rel.append_attribute("Id") = id.c_str();
    rel.append_attribute("Type") =
        "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
    rel.append_attribute("Target") =
        QStringLiteral("worksheets/sheet%1.xml").arg(file).toUtf8().constData();
    // The calculation chain is left out on saving; so are the references to it.
    while (pugi::xml_node chain =
               typeList.find_child_by_attribute("Override", "PartName", "/xl/calcChain.xml"))
        typeList.remove_child(chain);
    while (pugi::xml_node chain =
               relationships.find_child_by_attribute("Relationship", "Target", "calcChain.xml"))
        relationships.remove_child(chain);
    pugi::xml_node type = typeList.append_child("Override");
    type.append_attribute("PartName") = ("/" + entryName).toUtf8().constData();
    type.append_attribute("ContentType") =
        "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";

    QByteArray sheetXml =
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<sheetFormatPr defaultRowHeight=\"15\"/>";
    if (!columnWidths.empty()) {
        sheetXml += "<cols>";
        for (size_t c = 0; c < columnWidths.size(); ++c)
            sheetXml += QStringLiteral("<col min=\"%1\" max=\"%1\" width=\"%2\" customWidth=\"1\"/>")
                            .arg(c + 1)
                            .arg(columnWidths[c])
                            .toUtf8();
        sheetXml += "</cols>";
    }
    sheetXml += "<sheetData/><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" "
                "bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/></worksheet>";

    *workbookPart = xmlPart(workbook);
    *relsPart = xmlPart(rels);
    *typesPart = xmlPart(types);
    m_entries.emplace_back(entryName, sheetXml);
    m_sheetEntries[name] = entryName;
    m_sheetOrder.insert(position + 1, name);
    return sheet(name);
}

bool XlsxWorkbook::writeZip(QIODevice &device) const
{
    QuaZip zip(&device);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    bool ok = true;
    for (const auto &[name, original] : m_entries) {
        // Cells changed: a calculation chain would name stale cells, and
        // Excel rebuilds it anyway.
        if (name == QLatin1String("xl/calcChain.xml"))
            continue;
        QuaZipFile file(&zip);
        if (const auto sheet = m_sheets.find(name); sheet != m_sheets.end()) {
            // A sheet goes into its entry as it is written, compressed fast.
            ok = file.open(QIODevice::WriteOnly, QuaZipNewInfo(name), nullptr, 0, Z_DEFLATED, 1)
                 && sheet->second->writeTo([&](std::string_view part) {
                        return file.write(part.data(), qint64(part.size())) == qint64(part.size());
                    });
        } else {
            QByteArray data = original;
            if (name == QLatin1String("xl/styles.xml") && m_styles && m_styles->changed())
                data = m_styles->save();
            else if (name == QLatin1String("[Content_Types].xml")
                     || name.endsWith(QLatin1String(".rels")))
                data.replace("<Override PartName=\"/xl/calcChain.xml\" "
                             "ContentType=\"application/"
                             "vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/>",
                             "");
            ok = file.open(QIODevice::WriteOnly, QuaZipNewInfo(name), nullptr, 0, Z_DEFLATED,
                           Z_DEFAULT_COMPRESSION)
                 && file.write(data) == data.size();
        }
        file.close();
        if (!ok || file.getZipError() != 0) {
            ok = false;
            break;
        }
    }
    zip.close();
    return ok && zip.getZipError() == 0;
}

Result<void> XlsxWorkbook::save(const QString &path) const
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    SaveFile target(absolute);
    if (auto opened = target.open(); !opened)
        return opened;
    if (!writeZip(target.device()))
        return fail(QStringLiteral("无法写入 %1").arg(QDir::toNativeSeparators(absolute)));
    return target.commit();
}

Result<QByteArray> XlsxWorkbook::save() const
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!writeZip(buffer))
        return fail(QStringLiteral("无法生成工作簿"));
    return buffer.data();
}
