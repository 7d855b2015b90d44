// The about box: texts from the application's identity, links, size and closing.
#include "dialogs/about_dialog.h"
#include "ze_nox_gui_version.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using ze::nox::gui::AboutDialog;

TEST(AboutBox, ShowsTheIdentityAndCannotGrow)
{
    AboutDialog dlg(nullptr);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(dlg.size(), QSize(435, 316));
    EXPECT_EQ(dlg.maximumSize(), QSize(435, 316));
    Qt::WindowFlags const flags = dlg.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

    auto* name = dlg.findChild<QLabel*>(QStringLiteral("productNameAndVersion"));
    ASSERT_NE(name, nullptr);
    QString const text = name->text();
    EXPECT_TRUE(text.contains(QStringLiteral("font-weight:600;\">%1</span>").arg(QCoreApplication::applicationName())))
        << text.toStdString();
    // The version exactly as set, trailing blank included.
    EXPECT_TRUE(text.contains(QStringLiteral(">v%1</p>").arg(QCoreApplication::applicationVersion())))
        << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("%1")));
    EXPECT_FALSE(text.contains(QStringLiteral("%2")));
    EXPECT_TRUE(text.contains(QStringLiteral("<a href=\"https://")));
    EXPECT_TRUE(name->openExternalLinks());

    auto* feedback = dlg.findChild<QLabel*>(QStringLiteral("label_3"));
    ASSERT_NE(feedback, nullptr);
    EXPECT_TRUE(feedback->text().contains(QStringLiteral("Please send your feedback and questions at")));
    EXPECT_TRUE(feedback->text().contains(QStringLiteral("href=\"mailto:")));
    EXPECT_TRUE(feedback->openExternalLinks());
    EXPECT_TRUE(feedback->wordWrap());
    EXPECT_TRUE(feedback->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
    EXPECT_TRUE(feedback->textInteractionFlags() & Qt::TextSelectableByMouse);

    auto* rights = dlg.findChild<QLabel*>(QStringLiteral("label_2"));
    ASSERT_NE(rights, nullptr);
    // The year of the build, the same as in the log's start lines.
    EXPECT_EQ(rights->text(), QStringLiteral("Copyright © %1 %2. All rights reserved.")
                                  .arg(SERAVIN_COPYRIGHT_YEAR)
                                  .arg(QCoreApplication::organizationName()));

    auto* logo = dlg.findChild<QLabel*>(QStringLiteral("label"));
    ASSERT_NE(logo, nullptr);
    EXPECT_FALSE(logo->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(logo->maximumSize(), QSize(158, 265));

    // Shown, laid out and asked to grow: it keeps its size.
    dlg.show();
    dlg.resize(800, 600);
    EXPECT_EQ(dlg.size(), QSize(435, 316));
}

TEST(AboutBox, CloseRejects)
{
    AboutDialog dlg(nullptr);
    auto* box = dlg.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_NE(box, nullptr);
    ASSERT_NE(box->button(QDialogButtonBox::Close), nullptr);
    EXPECT_EQ(box->buttons().size(), 1);
    QTimer::singleShot(0, &dlg, [box] { box->button(QDialogButtonBox::Close)->click(); });
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);
}
