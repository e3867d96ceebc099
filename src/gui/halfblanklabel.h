#pragma once

#include <QLabel>

// A one-line label whose blanks are half a Chinese character wide, as in the
// fonts the window was designed with. The captions "每幅         条线" and
// "每行         幅图" leave room between their words for an edit box, and
// the blanks of our fonts are far narrower.
class HalfBlankLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *event) override;
};
