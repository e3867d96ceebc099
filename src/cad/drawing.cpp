#include "cad/drawing.h"

#include "base/savefile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

CadPoint moved(CadPoint p, CadPoint by)
{
    return {p.x + by.x, p.y + by.y};
}

} // namespace

Drawing::Drawing(BlockReader readBlockFile, PointPicker picker)
    : m_readBlockFile(std::move(readBlockFile))
    , m_picker(std::move(picker))
{
    m_layers[QStringLiteral("0")] = 7;
    m_styles[QStringLiteral("Standard")] = Style{QStringLiteral("txt"), QString(), 1, false};
}

Drawing::~Drawing() = default;

int Drawing::add(Entity e)
{
    if (e.layer.isEmpty())
        e.layer = m_activeLayer;
    m_model.push_back(std::move(e));
    return int(m_model.size());
}

Drawing::Entity *Drawing::entity(int id)
{
    return id >= 1 && size_t(id) <= m_model.size() ? &m_model[size_t(id) - 1] : nullptr;
}

bool Drawing::isEmpty() const
{
    return std::none_of(m_model.begin(), m_model.end(), [](const Entity &e) { return !e.erased; });
}

CadPoint Drawing::clearPoint() const
{
    double maxX = -std::numeric_limits<double>::infinity();
    double minY = std::numeric_limits<double>::infinity();
    for (const Entity &e : m_model) {
        if (e.erased)
            continue;
        const double reach = e.kind == Entity::Circle || e.kind == Entity::Arc ? e.radius
                             : e.kind == Entity::Insert                        ? 1
                             : e.kind == Entity::Text
                                 ? e.height * std::max<qsizetype>(1, e.text.size())
                                 : 0;
        for (const CadPoint &p : e.points) {
            maxX = std::max(maxX, p.x + reach);
            minY = std::min(minY, p.y - reach);
        }
    }
    if (!std::isfinite(maxX))
        return {0, 0};
    return {std::ceil(maxX / 10) * 10 + 20, std::floor(minY / 10) * 10};
}

Result<void> Drawing::attach()
{
    if (m_outputPath.isEmpty())
        return success();
    const QFileInfo target(m_outputPath);
    if (target.exists() && !target.isFile())
        return fail(QStringLiteral("无法写入曲线图文件 %1：这不是一个文件")
                        .arg(QDir::toNativeSeparators(m_outputPath)));
    // The drawing can be written when a new file can be made beside it.
    SaveFile probe(m_outputPath);
    if (auto opened = probe.open(); !opened)
        return fail(QStringLiteral("无法写入曲线图文件 %1：%2")
                        .arg(QDir::toNativeSeparators(m_outputPath), opened.error()));
    return success();
}

long Drawing::setVariable(const QString &name, const QString &value)
{
    if (name.compare(QLatin1String("Clayer"), Qt::CaseInsensitive) == 0) {
        if (!m_layers.count(value))
            return CadError::LayerMissing;
        m_activeLayer = value;
        return CadError::None;
    }
    // Snap, icon, line type and colour modes mean nothing to a drawing file.
    return CadError::None;
}

std::optional<CadPoint> Drawing::getPoint(const QString &prompt)
{
    if (!m_picker)
        return clearPoint();
    return m_picker(prompt, clearPoint());
}

void Drawing::addLayer(const QString &name, int colour)
{
    m_layers.try_emplace(name, colour);
}

void Drawing::setActiveLayer(const QString &name)
{
    if (m_layers.count(name))
        m_activeLayer = name;
}

void Drawing::addTextStyle(const QString &name)
{
    m_styles.try_emplace(name);
}

void Drawing::setFont(const QString &style, const QString &typeface)
{
    m_styles[style] = Style{typeface, QString(), 1, true};
}

void Drawing::setFontFiles(const QString &style, const QString &fontFile,
                              const QString &bigFontFile, double width)
{
    // A font file named without an extension is a compiled shape font.
    auto withExtension = [](const QString &file) {
        return file.isEmpty() || !QFileInfo(file).suffix().isEmpty()
                   ? file
                   : file + QStringLiteral(".shx");
    };
    m_styles[style] = Style{withExtension(fontFile), withExtension(bigFontFile), width, false};
}

long Drawing::setActiveTextStyle(const QString &style)
{
    const auto found = m_styles.find(style);
    if (found == m_styles.end() || found->second.fontFile.isEmpty())
        return CadError::FontMissing;
    m_activeStyle = style;
    return CadError::None;
}

void Drawing::sendCommand(const QString &)
{
    // A drawing file runs no commands.
}

QString Drawing::unreadBlocksText() const
{
    QStringList lines;
    for (const auto &[file, why] : m_unread)
        lines << QStringLiteral("%1 未画入：%2").arg(QFileInfo(file).fileName(), why.isEmpty() ? QStringLiteral("无法读取") : why);
    return lines.join(QLatin1Char('\n'));
}

const Drawing::Block *Drawing::loadBlock(const QString &file)
{
    // A mark is inserted at every vertex: the path as given is looked up
    // first, without asking the file system.
    if (const auto seen = m_blocksByName.find(file); seen != m_blocksByName.end())
        return seen->second;
    const Block *block = readBlock(file);
    if (block)
        m_blocksByName.emplace(file, block);
    return block;
}

const Drawing::Block *Drawing::readBlock(const QString &file)
{
    const QString key = QFileInfo(file).absoluteFilePath();
    const auto cached = m_blocksByFile.find(key);
    if (cached != m_blocksByFile.end())
        return cached->second.get();
    auto contents = m_readBlockFile ? m_readBlockFile(file) : Result<BlockFile>(fail(QString()));
    if (!contents) {
        m_unread.emplace(file, contents.error());
        return nullptr;
    }
    // The drawing's text styles come along; a style the drawing has keeps
    // its fonts.
    for (const auto &[name, style] : contents->styles)
        m_styles.try_emplace(validSymbolName(name), style);
    auto block = std::make_unique<Block>();
    // Blocks are named after their drawing file; a name already taken by a
    // file elsewhere gets a number.
    const QString base = validSymbolName(QFileInfo(file).completeBaseName());
    QString name = base;
    for (int n = 2;; ++n) {
        const bool taken = std::any_of(
            m_blocksByFile.begin(), m_blocksByFile.end(), [&](const auto &entry) {
                return entry.second->name.compare(name, Qt::CaseInsensitive) == 0;
            });
        if (!taken)
            break;
        name = base + QLatin1Char('_') + QString::number(n);
    }
    block->name = name;
    block->entities = std::move(contents->entities);
    for (Entity &e : block->entities)
        e.style = validSymbolName(e.style);
    const Block *result = block.get();
    m_blocksByFile.emplace(key, std::move(block));
    return result;
}

int Drawing::insertBlock(CadPoint at, const QString &file)
{
    const Block *block = loadBlock(file);
    if (!block)
        return 0;
    Entity e;
    e.kind = Entity::Insert;
    e.points = {at};
    e.block = block->name;
    return add(std::move(e));
}

void Drawing::explode(int reference, const std::map<QString, QString> &attributeValues)
{
    const Entity *insert = entity(reference);
    if (!insert || insert->kind != Entity::Insert)
        return;
    const QString blockName = insert->block;
    const CadPoint at = insert->points.front();
    for (const auto &[file, block] : m_blocksByFile) {
        if (block->name != blockName)
            continue;
        // The block's entities become model-space entities on layer "0",
        // whatever layer is current, so a frame never takes a curve's colour.
        for (Entity e : block->entities) {
            for (CadPoint &p : e.points)
                p = moved(p, at);
            e.alignment = moved(e.alignment, at);
            e.layer = QStringLiteral("0");
            if (e.kind == Entity::Attdef) {
                // The definition itself is not drawn: its value is, as a text
                // at its place and in its style.
                const auto value = attributeValues.find(e.tag);
                e.text = value != attributeValues.end() ? value->second : e.text;
                e.kind = Entity::Text;
                e.tag.clear();
                if (e.text.isEmpty())
                    continue;
            }
            m_model.push_back(std::move(e));
        }
        break;
    }
}

void Drawing::erase(int id)
{
    if (Entity *e = entity(id))
        e->erased = true;
}

int Drawing::addLightWeightPolyline(const std::vector<CadPoint> &vertices)
{
    Entity e;
    e.kind = Entity::Polyline;
    e.points = vertices;
    return add(std::move(e));
}

void Drawing::addVertex(int polyline, int index, CadPoint vertex)
{
    Entity *e = entity(polyline);
    if (!e || e->kind != Entity::Polyline)
        return;
    const size_t at = std::min(size_t(std::max(index, 0)), e->points.size());
    e->points.insert(e->points.begin() + qsizetype(at), vertex);
}

void Drawing::update(int)
{}

int Drawing::addText(const QString &text, CadPoint at, double height)
{
    Entity e;
    e.kind = Entity::Text;
    e.points = {at};
    e.alignment = at;
    e.text = text;
    e.height = height;
    e.style = m_activeStyle;
    return add(std::move(e));
}

void Drawing::setAlignment(int text, int vertical, int horizontal)
{
    if (Entity *e = entity(text)) {
        e->vertical = vertical;
        e->horizontal = horizontal;
    }
}

void Drawing::setAlignmentPoint(int text, CadPoint at)
{
    if (Entity *e = entity(text))
        e->alignment = at;
}

void Drawing::setScaleFactor(int text, double factor)
{
    if (Entity *e = entity(text))
        e->scale = factor;
}

void Drawing::setTextStyleOf(int text, const QString &style)
{
    if (Entity *e = entity(text))
        e->style = style;
}

int Drawing::addAttributeDefinition(const QString &tag, const QString &defaultValue, CadPoint at,
                                    double height)
{
    // A text of its own, with a tag.
    const int id = addText(defaultValue, at, height);
    Entity *e = entity(id);
    e->kind = Entity::Attdef;
    e->tag = tag;
    return id;
}

int Drawing::addCircle(CadPoint centre, double radius)
{
    Entity e;
    e.kind = Entity::Circle;
    e.points = {centre};
    e.radius = radius;
    return add(std::move(e));
}

QString validSymbolName(const QString &name)
{
    static const QString forbidden = QStringLiteral("<>/\\\":;?*|=`,");
    QString out = name;
    for (QChar &c : out)
        if (c.unicode() < 32 || c.unicode() == 127 || forbidden.contains(c))
            c = QLatin1Char('_');
    return out;
}
