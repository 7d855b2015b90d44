#include "app/ze_nox_gui_utils.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QFontMetrics>
#include <QInputDialog>
#include <QProxyStyle>
#include <QStyleOptionTab>
#include <QTabBar>
#include <QTabWidget>
#include <QTime>

namespace ze::nox::gui::utils {

namespace {

// Draws the tabs of a side tab bar like those of a top one: the tab's size turned back and its
// label unrotated.
class SideTabStyle : public QProxyStyle
{
public:
    QSize sizeFromContents(ContentsType type, QStyleOption const* option, QSize const& size,
                           QWidget const* widget) const override
    {
        QSize s = QProxyStyle::sizeFromContents(type, option, size, widget);
        if (type == CT_TabBarTab)
            s.transpose();
        return s;
    }
    void drawControl(ControlElement element, QStyleOption const* option, QPainter* painter,
                     QWidget const* widget) const override
    {
        if (element == CE_TabBarTabLabel)
            if (auto const* tab = qstyleoption_cast<QStyleOptionTab const*>(option)) {
                QStyleOptionTab across(*tab);
                across.shape = QTabBar::RoundedNorth;
                QProxyStyle::drawControl(element, &across, painter, widget);
                return;
            }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

} // namespace

void PlaceTabsBeside(QTabWidget* tabs)
{
    tabs->setTabPosition(QTabWidget::West);
    // A few short titles: they fit, and the bar asks no more height than they take.
    tabs->tabBar()->setUsesScrollButtons(false);
    auto* style = new SideTabStyle;
    style->setParent(tabs->tabBar());
    tabs->tabBar()->setStyle(style);
    // The layouts holding the tabs take their new size hints.
    tabs->tabBar()->updateGeometry();
    tabs->updateGeometry();
}

QString msToString(qint64 ms)
{
    // Checked on the full value: a count past 32 bits must not wrap into the day.
    constexpr qint64 kMsPerDay = 24LL * 60 * 60 * 1000;
    if (ms < 0 || ms >= kMsPerDay)
        return QString();
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)).toString(QStringLiteral("hh:mm:ss.zzz"));
}

QString GetFileMd5(QString const& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // Hashed in chunks: a video file may be larger than fits in memory, and a read error must
    // not pass for the digest of a shorter file.
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

QString ChooseItem(QWidget* parent, QString const& title, QString const& label, QStringList const& items, bool* ok)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setComboBoxItems(items);
    dialog.setComboBoxEditable(false);
    // The frame draws the title in a font of its own, often bold, beside its icon and buttons:
    // room for a third more text and those. The dialog's layout takes its minimum width from
    // its widgets, so the list gets that width.
    int const titleWidth = QFontMetrics(dialog.font()).horizontalAdvance(title) * 4 / 3 + 160;
    if (auto* list = dialog.findChild<QComboBox*>())
        list->setMinimumWidth(titleWidth);
    bool const accepted = dialog.exec() == QDialog::Accepted;
    if (ok)
        *ok = accepted;
    return accepted ? dialog.textValue() : QString();
}

} // namespace ze::nox::gui::utils
