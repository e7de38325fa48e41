// The desktop message box: caption, text, icon and buttons as asked, and the button the
// operator presses comes back.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <optional>

#include "platform/widgets/QtMessageBox.h"

namespace orvane {
namespace {

struct SeenBox {
    QString caption;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QWidget* parent = nullptr;
};

// Waits for the modal box, notes what it shows and presses the given button. Gives up
// after a bounded number of looks, closing whatever is modal, so a test can never hang.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton press) : m_press(press) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Look(); });
        m_timer.start();
    }
    const std::optional<SeenBox>& Seen() const { return m_seen; }

private:
    void Look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (++m_looks > 500) m_timer.stop();
            return;
        }
        m_timer.stop();
        SeenBox seen;
        seen.caption = box->windowTitle();
        seen.text = box->text();
        seen.format = box->textFormat();
        seen.icon = box->icon();
        seen.parent = box->parentWidget();
        seen.buttons = box->standardButtons();
        if (box->defaultButton()) seen.defaultButton = box->standardButton(box->defaultButton());
        m_seen = seen;
        if (QAbstractButton* button = box->button(m_press)) {
            button->click();
        } else {
            box->close();
        }
    }

    QMessageBox::StandardButton m_press;
    QTimer m_timer;
    int m_looks = 0;
    std::optional<SeenBox> m_seen;
};

TEST(QtMessageBox, StopBoxShowsTheTextWithTheCriticalIconAndOneOkButton) {
    QtMessageBox boxes;
    BoxAnswerer answerer(QMessageBox::Ok);

    EXPECT_EQ(boxes.Show(QStringLiteral("The server could not start."), MessageIcon::Stop),
              MessageAnswer::Ok);

    ASSERT_TRUE(answerer.Seen());
    EXPECT_EQ(answerer.Seen()->caption, QStringLiteral("Orvane"));
    EXPECT_EQ(answerer.Seen()->text, QStringLiteral("The server could not start."));
    EXPECT_EQ(answerer.Seen()->icon, QMessageBox::Critical);
    EXPECT_EQ(answerer.Seen()->buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(QtMessageBox, QuestionOffersYesAndNoAndReturnsThePressedOne) {
    QtMessageBox boxes;
    {
        BoxAnswerer answerer(QMessageBox::No);
        EXPECT_EQ(boxes.Show(QStringLiteral("Delete the user?"), MessageIcon::Question,
                             MessageButtons::YesNo),
                  MessageAnswer::No);
        ASSERT_TRUE(answerer.Seen());
        EXPECT_EQ(answerer.Seen()->icon, QMessageBox::Question);
        EXPECT_EQ(answerer.Seen()->buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(answerer.Seen()->defaultButton, QMessageBox::Yes);
    }
    {
        BoxAnswerer answerer(QMessageBox::Yes);
        EXPECT_EQ(boxes.Show(QStringLiteral("Delete the user?"), MessageIcon::Question,
                             MessageButtons::YesNo),
                  MessageAnswer::Yes);
        ASSERT_TRUE(answerer.Seen());
    }
}

TEST(QtMessageBox, InformationAndPlainBoxesUseTheirIcons) {
    QtMessageBox boxes;
    {
        BoxAnswerer answerer(QMessageBox::Ok);
        boxes.Show(QStringLiteral("Saved."), MessageIcon::Information);
        ASSERT_TRUE(answerer.Seen());
        EXPECT_EQ(answerer.Seen()->icon, QMessageBox::Information);
    }
    {
        BoxAnswerer answerer(QMessageBox::Ok);
        boxes.Show(QStringLiteral("Cannot write the file."), MessageIcon::None);
        ASSERT_TRUE(answerer.Seen());
        EXPECT_EQ(answerer.Seen()->icon, QMessageBox::NoIcon);
    }
}

TEST(QtMessageBox, MarkupInTheTextIsShownAsTyped) {
    QtMessageBox boxes;
    BoxAnswerer answerer(QMessageBox::Ok);

    boxes.Show(QStringLiteral("User \"<b>bob</b>\" exists."), MessageIcon::Stop);

    ASSERT_TRUE(answerer.Seen());
    EXPECT_EQ(answerer.Seen()->format, Qt::PlainText);
    EXPECT_EQ(answerer.Seen()->text, QStringLiteral("User \"<b>bob</b>\" exists."));
}

TEST(QtMessageBox, BoxIsModalToItsOwner) {
    QWidget owner;
    owner.show();
    QtMessageBox boxes(&owner);
    BoxAnswerer answerer(QMessageBox::Ok);

    boxes.Show(QStringLiteral("Hello"), MessageIcon::Information);

    ASSERT_TRUE(answerer.Seen());
    EXPECT_EQ(answerer.Seen()->parent, &owner);
}

}  // namespace
}  // namespace orvane
