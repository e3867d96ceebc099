#include "gui/pointpickdialog.h"

#include <QDialogButtonBox>
#include <QDoubleValidator>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

PointPickDialog::PointPickDialog(CadPoint suggested, QWidget *parent)
    : QDialog(parent)
    , m_x(new QLineEdit(QString::number(suggested.x, 'g', 12)))
    , m_y(new QLineEdit(QString::number(suggested.y, 'g', 12)))
{
    setWindowTitle(QStringLiteral("Sedimetra"));
    setObjectName(QStringLiteral("PointPickDialog"));
    m_x->setObjectName(QStringLiteral("X"));
    m_y->setObjectName(QStringLiteral("Y"));
    for (QLineEdit *box : {m_x, m_y}) {
        auto *validator = new QDoubleValidator(box);
        validator->setLocale(QLocale::c());
        validator->setNotation(QDoubleValidator::StandardNotation);
        box->setValidator(validator);
    }
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("X："), m_x);
    form->addRow(QStringLiteral("Y："), m_y);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("请指定插入基点：")));
    layout->addLayout(form);
    layout->addWidget(buttons);
    // OK only with two numbers.
    auto check = [this, buttons] {
        buttons->button(QDialogButtonBox::Ok)
            ->setEnabled(m_x->hasAcceptableInput() && m_y->hasAcceptableInput());
    };
    connect(m_x, &QLineEdit::textChanged, this, check);
    connect(m_y, &QLineEdit::textChanged, this, check);
    check();
}

CadPoint PointPickDialog::point() const
{
    return {QLocale::c().toDouble(m_x->text()), QLocale::c().toDouble(m_y->text())};
}

std::optional<CadPoint> PointPickDialog::pick(CadPoint suggested, QWidget *parent)
{
    PointPickDialog dialog(suggested, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.point();
}
