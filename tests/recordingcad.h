#pragma once

#include "cad/cadinterface.h"

#include <QStringList>

#include <map>
#include <optional>
#include <vector>

// A CAD drawing that records what is done to it, for checking the operation
// sequences of a curve-sheet run without a real drawing.
class RecordingCad : public CadInterface
{
public:
    struct Polyline
    {
        QString layer;
        std::vector<CadPoint> vertices;
    };
    struct Text
    {
        QString layer;
        QString text;
        CadPoint at;
        double height = 0;
        int vertical = -1, horizontal = -1;
        std::optional<CadPoint> alignmentPoint;
        double scale = 1;
    };
    struct Insert
    {
        QString layer;
        QString file;
        CadPoint at;
        bool exploded = false;
        bool erased = false;
        std::map<QString, QString> attributeValues;
    };

    // What the test sets up.
    bool attachFails = false;
    std::optional<CadPoint> pick = CadPoint{100, 200};
    std::map<QString, int> layers; // name -> colour; a run's layers are added here

    // What the run did.
    QStringList calls;
    std::map<QString, QString> variables;
    QString activeLayer;
    QString fontFace, fontFile, bigFontFile;
    std::vector<Polyline> polylines;
    std::vector<Text> texts;
    std::vector<Insert> inserts;

    std::vector<const Text *> textsOn(const QString &layer) const;
    std::vector<const Polyline *> polylinesOn(const QString &layer) const;
    std::vector<const Insert *> insertsOf(const QString &fileEnding) const;

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

private:
    // Entity ids: polylines 1.., texts 100001.., inserts 200001..
    static constexpr int textBase = 100000, insertBase = 200000;
};
