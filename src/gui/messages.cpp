#include "gui/messages.h"

#include "gui/session.h"
#include "gui/twips.h"

#include <QDir>
#include <QPushButton>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

QSize outerSize(const QWidget *window)
{
    return window->windowHandle() ? window->frameGeometry().size() : window->size();
}

QRect screenRect(const QWidget *window)
{
    QScreen *screen = window ? window->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

QPoint moveAside(QWidget *window)
{
    if (!window)
        return {};
    const QPoint place = window->pos();
    const QRect screen = screenRect(window);
    window->move(screen.right() + 1 - twips(300), place.y());
    return place;
}

void moveBack(QWidget *window, QPoint place)
{
    if (window)
        window->move(place);
}

// A message box leaves the window where it stands: it is centred over the
// window, which the user may have moved or enlarged.
void showMessage(QWidget *window, const QString &text, const QString &title, QMessageBox::Icon icon)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, window);
    box.exec();
}

bool askYesNo(QWidget *window, const QString &text, const QString &title, Answer preset)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, window);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    box.setDefaultButton(preset == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    const bool yes = box.exec() == QMessageBox::Yes;
    return yes;
}

int askChoice(QWidget *window, const QString &text, const QStringList &choices, int preset,
              const QString &title)
{
    const QMessageBox::StandardButton buttons[] = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
    const int count = std::clamp(int(choices.size()), 2, 3);
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, window);
    for (int i = 0; i < count; ++i)
        box.addButton(buttons[i])->setText(choices.value(i));
    box.setDefaultButton(buttons[std::clamp(preset, 0, count - 1)]);
    box.setEscapeButton(buttons[count - 1]);
    const int answer = box.exec();
    for (int i = 0; i < count; ++i)
        if (answer == buttons[i])
            return i;
    return count - 1;
}

void reportWriteFailure(QWidget *window, const QString &projectPath, const QString &reason)
{
    showMessage(window, QStringLiteral("无法保存到沉降工程：%1\n%2")
                            .arg(QDir::toNativeSeparators(projectPath), reason));
}

bool storeSettingOrTell(QWidget *window, Session &session, const QString &key,
                        const QString &value)
{
    const auto stored = session.storeSetting(key, value);
    if (!stored)
        showMessage(window, QStringLiteral("无法保存设置“%1”：%2\n系统数据库：%3")
                                .arg(key, stored.error(),
                                     QDir::toNativeSeparators(session.settings().path())));
    return stored.ok();
}
