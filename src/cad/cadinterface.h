#pragma once

#include "base/result.h"

// cad/: the CAD interface, the drawing held in memory, DXF reading and
// writing, the sheet drawing and the curve-sheet run. Uses base/, layout/
// and survey/.

#include <QString>

#include <map>
#include <optional>
#include <vector>

// The few operations the curve sheets need from a CAD drawing. The product
// draws into a drawing held in memory and written as DXF; tests record the
// calls. Points are drawing units; z is always 0.

struct CadPoint
{
    double x = 0;
    double y = 0;
    bool operator==(const CadPoint &) const = default;
};

namespace CadError {
constexpr long None = 0;
// "Clayer" set to a layer the drawing does not have.
constexpr long LayerMissing = -2145320858; // 0x80210066
// The text style's font cannot be found.
constexpr long FontMissing = -2145386445; // 0x80200033
} // namespace CadError

// Vertical and horizontal alignment numbers of a text.
namespace CadAlign {
constexpr int Bottom = 1, Middle = 2, Top = 3;
constexpr int Left = 0, Centre = 1, Right = 2;
} // namespace CadAlign

class CadInterface
{
public:
    virtual ~CadInterface() = default;

    // Makes the drawing ready to receive a run; the reason when it cannot be
    // (for the product: the drawing file cannot be written).
    virtual Result<void> attach() = 0;
    // Sets a system variable; returns an error number (LayerMissing for
    // "Clayer" with an unknown layer), 0 when set.
    virtual long setVariable(const QString &name, const QString &value) = 0;
    // The point the user picks, or nothing when the pick is cancelled.
    virtual std::optional<CadPoint> getPoint(const QString &prompt) = 0;

    virtual void addLayer(const QString &name, int colour) = 0;
    virtual void setActiveLayer(const QString &name) = 0;

    virtual void addTextStyle(const QString &name) = 0;
    virtual void setFont(const QString &style, const QString &typeface) = 0;
    virtual void setFontFiles(const QString &style, const QString &fontFile,
                              const QString &bigFontFile, double width) = 0;
    // Makes the style current; returns FontMissing when its font is missing.
    virtual long setActiveTextStyle(const QString &style) = 0;
    // A command for the CAD command line, such as an (Alert "...") message.
    virtual void sendCommand(const QString &command) = 0;

    // A block reference of the drawing file's contents at `at` (scales 1,
    // rotation 0); 0 when the file cannot be read.
    virtual int insertBlock(CadPoint at, const QString &file) = 0;
    // Explodes a block reference; an attribute definition of the block
    // becomes a text of the value its tag has in `attributeValues` (of its
    // default value when the tag has none there).
    virtual void explode(int reference, const std::map<QString, QString> &attributeValues) = 0;
    virtual void erase(int entity) = 0;

    virtual int addLightWeightPolyline(const std::vector<CadPoint> &vertices) = 0;
    virtual void addVertex(int polyline, int index, CadPoint vertex) = 0;
    virtual void update(int entity) = 0;

    virtual int addText(const QString &text, CadPoint at, double height) = 0;
    virtual void setAlignment(int text, int vertical, int horizontal) = 0;
    virtual void setAlignmentPoint(int text, CadPoint at) = 0;
    virtual void setScaleFactor(int text, double factor) = 0;
};
