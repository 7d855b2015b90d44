#pragma once

#include <QObject>

namespace ze::nox::gui {

// The one project of the application: its source files and RD curves.
class ZeNoxGuiProject : public QObject
{
    Q_OBJECT
public:
    explicit ZeNoxGuiProject(QObject* parent = nullptr);
    ~ZeNoxGuiProject() override;
};

} // namespace ze::nox::gui
