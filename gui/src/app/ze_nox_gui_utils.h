#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class QTabWidget;
class QWidget;

namespace ze::nox::gui::utils {

// A count of milliseconds after midnight as "hh:mm:ss.zzz"; empty outside one day.
QString msToString(qint64 ms);

// MD5 of the whole file as 32 lower-case hexadecimal digits; empty when the file cannot be read.
QString GetFileMd5(QString const& fileName);

// Asks for one of items in a modal list dialog whose title is not cut by the window frame (the
// toolkit's own item dialog is as narrow as its label). Empty, with *ok false, when cancelled.
QString ChooseItem(QWidget* parent, QString const& title, QString const& label, QStringList const& items, bool* ok);

// Puts the tab bar on the left of the pages with its titles written across, as on top: a short
// panel then gives its whole height to the page, not a row of tabs.
void PlaceTabsBeside(QTabWidget* tabs);

} // namespace ze::nox::gui::utils
