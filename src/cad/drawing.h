#pragma once

#include "base/result.h"
#include "cad/cadinterface.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

// The drawing curve sheets are drawn into, held in memory and fed by the CAD
// operations; dxffile.h reads the inserted frame and mark drawings and writes
// the whole drawing as one DXF file.
class Drawing : public CadInterface
{
public:
    // Asks the user for the base point; `suggested` is clear of everything
    // already drawn. Nothing means the pick was cancelled.
    using PointPicker =
        std::function<std::optional<CadPoint>(const QString &prompt, CadPoint suggested)>;

    // Layer, style and block names compare as CAD programs compare them:
    // without regard to case.
    struct NameLess
    {
        bool operator()(const QString &a, const QString &b) const
        {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        }
    };

    struct Entity
    {
        // Attdef: an attribute definition of a frame drawing, with its tag;
        // `text` is its default value.
        enum Kind { Line, Polyline, Circle, Arc, Text, Solid, Insert, Attdef } kind = Line;
        QString layer;
        int colour = 256;             // by layer
        std::vector<CadPoint> points; // line 2, polyline n, solid 4, circle/arc/text/insert 1
        bool closed = false;
        double radius = 0, startAngle = 0, endAngle = 0;
        QString text, style;
        double height = 0, scale = 1;
        double rotation = 0; // a text's, degrees counter-clockwise
        int vertical = 0, horizontal = 0;
        CadPoint alignment;
        QString block;
        QString tag;
        bool erased = false;
    };
    struct Style
    {
        QString fontFile, bigFontFile;
        double width = 1;
        bool trueType = false;
    };

    // The entities and text styles of a drawing file a block is made of.
    struct BlockFile
    {
        std::vector<Entity> entities;
        std::map<QString, Style> styles;
        // The entities drawn, by their kind in the file ("LINE", "ELLIPSE",
        // …), blocks exploded; and those of kinds not drawn ("HATCH", …).
        std::map<QString, int> drawn, skipped;
        // Where each block reference (each cell of an array) put its block's
        // base point.
        std::vector<CadPoint> insertions;
        // The header's $INSUNITS (0: none given) and $MEASUREMENT (0
        // imperial, 1 metric, -1: none given).
        int insUnits = 0, measurement = -1;
    };
    // How a block's drawing file is read (the DXF reader, in the program).
    using BlockReader = std::function<Result<BlockFile>(const QString &file)>;

    explicit Drawing(BlockReader readBlockFile, PointPicker picker = {});
    ~Drawing() override;

    // The file the drawing will be written to: attaching checks that it can be.
    void setOutputPath(const QString &path) { m_outputPath = path; }

    bool isEmpty() const;
    // A base point clear of everything drawn: (0, 0) in an empty drawing,
    // otherwise right of all of it.
    CadPoint clearPoint() const;
    const std::vector<Entity> &entities() const { return m_model; }
    const std::map<QString, int, NameLess> &layers() const { return m_layers; }

    // Shapes for making frame and mark drawings.
    int addCircle(CadPoint centre, double radius);
    void setTextStyleOf(int text, const QString &style);
    // An attribute definition (for frame drawings) with the current style.
    int addAttributeDefinition(const QString &tag, const QString &defaultValue, CadPoint at,
                               double height);

    Result<void> attach() override;
    long setVariable(const QString &name, const QString &value) override;
    std::optional<CadPoint> getPoint(const QString &prompt) override;
    void addLayer(const QString &name, int colour) override;
    void setActiveLayer(const QString &name) override;
    void addTextStyle(const QString &name) override;
    void setFont(const QString &style, const QString &typeface) override;
    void setFontFiles(const QString &style, const QString &fontFile, const QString &bigFontFile,
                      double width) override;
    long setActiveTextStyle(const QString &style) override;
    void sendCommand(const QString &command) override;
    int insertBlock(CadPoint at, const QString &file) override;
    void explode(int reference, const std::map<QString, QString> &attributeValues) override;
    void erase(int entity) override;
    int addLightWeightPolyline(const std::vector<CadPoint> &vertices) override;
    void addVertex(int polyline, int index, CadPoint vertex) override;
    void update(int entity) override;
    int addText(const QString &text, CadPoint at, double height) override;
    void setAlignment(int text, int vertical, int horizontal) override;
    void setAlignmentPoint(int text, CadPoint at) override;
    void setScaleFactor(int text, double factor) override;

    struct Block
    {
        QString name;
        std::vector<Entity> entities;
    };
    const std::map<QString, Style, NameLess> &styles() const { return m_styles; }
    // The blocks read so far, by the absolute path of their drawing file.
    const std::map<QString, std::unique_ptr<Block>> &blocks() const { return m_blocksByFile; }
    // The drawing files that could not be read when inserted (a frame, a
    // mark), each with why: nothing of them is in the drawing.
    const std::map<QString, QString> &unreadBlocks() const { return m_unread; }
    // The same as sentences, for the user; empty when every file was read.
    QString unreadBlocksText() const;

private:
    const Block *loadBlock(const QString &file);
    const Block *readBlock(const QString &file);
    int add(Entity entity);
    Entity *entity(int id);

    BlockReader m_readBlockFile;
    PointPicker m_picker;
    QString m_outputPath;
    std::vector<Entity> m_model;
    std::map<QString, int, NameLess> m_layers;
    QString m_activeLayer = QStringLiteral("0");
    std::map<QString, Style, NameLess> m_styles;
    QString m_activeStyle = QStringLiteral("Standard");
    std::map<QString, std::unique_ptr<Block>> m_blocksByFile;
    std::map<QString, const Block *> m_blocksByName; // by the path as inserted
    std::map<QString, QString> m_unread;             // by the path as inserted
};

// A name CAD programs take for a layer, text style or block: the characters
// DXF forbids in symbol names (< > / \ " : ; ? * | = ` and commas) and
// control characters become "_".
QString validSymbolName(const QString &name);
