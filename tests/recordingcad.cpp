#include "recordingcad.h"

std::vector<const RecordingCad::Text *> RecordingCad::textsOn(const QString &layer) const
{
    std::vector<const Text *> found;
    for (const Text &t : texts)
        if (t.layer == layer)
            found.push_back(&t);
    return found;
}

std::vector<const RecordingCad::Polyline *> RecordingCad::polylinesOn(const QString &layer) const
{
    std::vector<const Polyline *> found;
    for (const Polyline &p : polylines)
        if (p.layer == layer)
            found.push_back(&p);
    return found;
}

std::vector<const RecordingCad::Insert *> RecordingCad::insertsOf(const QString &fileEnding) const
{
    std::vector<const Insert *> found;
    for (const Insert &i : inserts)
        if (i.file.endsWith(fileEnding))
            found.push_back(&i);
    return found;
}

Result<void> RecordingCad::attach()
{
    calls << QStringLiteral("attach");
    if (attachFails)
        return fail(QStringLiteral("cannot write the drawing"));
    return success();
}

long RecordingCad::setVariable(const QString &name, const QString &value)
{
    calls << QStringLiteral("SetVariable %1 %2").arg(name, value);
    if (name == QLatin1String("Clayer")) {
        if (!layers.count(value))
            return CadError::LayerMissing;
        activeLayer = value;
    }
    variables[name] = value;
    return CadError::None;
}

std::optional<CadPoint> RecordingCad::getPoint(const QString &prompt)
{
    calls << QStringLiteral("GetPoint ") + prompt;
    return pick;
}

void RecordingCad::addLayer(const QString &name, int colour)
{
    calls << QStringLiteral("Layers.Add %1 %2").arg(name).arg(colour);
    layers.try_emplace(name, colour);
}

void RecordingCad::setActiveLayer(const QString &name)
{
    calls << QStringLiteral("ActiveLayer ") + name;
    activeLayer = name;
}

void RecordingCad::addTextStyle(const QString &name)
{
    calls << QStringLiteral("TextStyles.Add ") + name;
}

void RecordingCad::setFont(const QString &, const QString &typeface)
{
    calls << QStringLiteral("SetFont ") + typeface;
    fontFace = typeface;
}

void RecordingCad::setFontFiles(const QString &, const QString &font, const QString &bigFont,
                                double width)
{
    calls << QStringLiteral("FontFiles %1 %2 %3").arg(font, bigFont).arg(width);
    fontFile = font;
    bigFontFile = bigFont;
}

long RecordingCad::setActiveTextStyle(const QString &style)
{
    calls << QStringLiteral("ActiveTextStyle ") + style;
    const bool missing = fontFace.isNull() ? fontFile.isEmpty() : fontFace.isEmpty();
    return missing ? CadError::FontMissing : CadError::None;
}

void RecordingCad::sendCommand(const QString &command)
{
    calls << QStringLiteral("SendCommand ") + command;
}

int RecordingCad::insertBlock(CadPoint at, const QString &file)
{
    calls << QStringLiteral("InsertBlock %1 %2 %3").arg(file).arg(at.x).arg(at.y);
    inserts.push_back({activeLayer, file, at, false, false, {}});
    return insertBase + int(inserts.size());
}

void RecordingCad::explode(int reference, const std::map<QString, QString> &attributeValues)
{
    calls << QStringLiteral("Explode");
    Insert &insert = inserts.at(size_t(reference - insertBase - 1));
    insert.exploded = true;
    insert.attributeValues = attributeValues;
}

void RecordingCad::erase(int entity)
{
    calls << QStringLiteral("Erase");
    inserts.at(size_t(entity - insertBase - 1)).erased = true;
}

int RecordingCad::addLightWeightPolyline(const std::vector<CadPoint> &vertices)
{
    calls << QStringLiteral("AddLightWeightPolyline");
    polylines.push_back({activeLayer, vertices});
    return int(polylines.size());
}

void RecordingCad::addVertex(int polyline, int index, CadPoint vertex)
{
    auto &vertices = polylines.at(size_t(polyline - 1)).vertices;
    vertices.insert(vertices.begin() + index, vertex);
}

void RecordingCad::update(int)
{}

int RecordingCad::addText(const QString &text, CadPoint at, double height)
{
    calls << QStringLiteral("AddText ") + text;
    texts.push_back(Text{activeLayer, text, at, height, -1, -1, std::nullopt, 1});
    return textBase + int(texts.size());
}

void RecordingCad::setAlignment(int text, int vertical, int horizontal)
{
    Text &t = texts.at(size_t(text - textBase - 1));
    t.vertical = vertical;
    t.horizontal = horizontal;
}

void RecordingCad::setAlignmentPoint(int text, CadPoint at)
{
    texts.at(size_t(text - textBase - 1)).alignmentPoint = at;
}

void RecordingCad::setScaleFactor(int text, double factor)
{
    texts.at(size_t(text - textBase - 1)).scale = factor;
}
