#pragma once
// Answers the modal dialogs and popup menus that a command opens, so that no test waits for input.
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

// Runs each action on the next modal window that appears, in order. A modal window that appears
// when no action is left is closed and counted as unexpected.
class ModalScript
{
public:
    using Action = std::function<void(QWidget*)>;

    explicit ModalScript(QList<Action> actions) : m_actions(std::move(actions))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start();
    }

    int remaining() const { return m_actions.size(); }
    int unexpected() const { return m_unexpected; }

private:
    void tick()
    {
        QWidget* const w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || w == m_last)
            return;
        m_last = w;
        if (m_actions.isEmpty()) {
            ++m_unexpected;
            w->close();
            return;
        }
        Action const a = m_actions.takeFirst();
        a(w);
    }

    QTimer m_timer;
    QList<Action> m_actions;
    QPointer<QWidget> m_last;
    int m_unexpected = 0;
};

// Runs once on the next popup menu: the action sees the menu while it is open and must close it.
class PopupScript
{
public:
    explicit PopupScript(std::function<void(QMenu*)> action) : m_action(std::move(action))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !m_action)
                return;
            auto a = std::move(m_action);
            m_action = nullptr;
            m_shown = true;
            a(menu);
        });
        m_timer.start();
    }

    bool shown() const { return m_shown; }

private:
    QTimer m_timer;
    std::function<void(QMenu*)> m_action;
    bool m_shown = false;
};

// The menu's action with that text, also inside submenus; null when there is none.
inline QAction* FindAction(QMenu* menu, QString const& text)
{
    for (QAction* a : menu->actions()) {
        if (a->text() == text)
            return a;
        if (a->menu())
            if (QAction* sub = FindAction(a->menu(), text))
                return sub;
    }
    return nullptr;
}

// Closes the menu and then runs the action, as a click on it does.
inline void TriggerAndClose(QMenu* menu, QString const& text)
{
    QAction* const a = FindAction(menu, text);
    menu->hide();
    if (a)
        a->trigger();
}
