// The main window as the operator sees it: the count, the tray, the switch and the ways out.
#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "WindowFixture.h"
#include "app/OperatorTexts.h"
#include "ui/ActivityListModel.h"
#include "ui/ControlIds.h"
#include "ui/SystemTray.h"

namespace orvane::test {
namespace {

class MainWindow : public WindowFixture {
protected:
    QString ConnectionText() {
        return Window().findChild<QLabel*>(QLatin1String(control::main::kConnectionText))->text();
    }
    QPushButton* Switch() {
        return Window().findChild<QPushButton*>(QLatin1String(control::main::kEnableSwitch));
    }
    int QuestionsAsked() const {
        int count = 0;
        for (const auto& shown : messages.shown) count += shown.text == kConfirmExitText;
        return count;
    }
};

TEST_F(MainWindow, ComesUpListeningWithTheSwitchOnAndNoConnections) {
    COrvaneDlg& window = ShownWindow();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Orvane v1.5"));
    EXPECT_TRUE(server->IsListening());
    EXPECT_TRUE(Switch()->isChecked());
    EXPECT_EQ(ConnectionText(), QStringLiteral("Number of connections : 0"));
    EXPECT_EQ(window.TrayIcon().TooltipText(), QStringLiteral("Orvane (0 Connections)"));
    EXPECT_EQ(window.TrayIcon().Icon().cacheKey(), window.IdleIcon().cacheKey());
}

TEST_F(MainWindow, TwoClientsShowInTheCountAndTheTrayUntilBothLeave) {
    COrvaneDlg& window = ShownWindow();
    LoopbackClient first, second;
    ASSERT_TRUE(first.Connect(server->BoundPort()));
    ASSERT_TRUE(second.Connect(server->BoundPort()));
    ASSERT_TRUE(WaitUntil([this] { return server->ConnectionCount() == 2; }));
    EXPECT_EQ(ConnectionText(), QStringLiteral("Number of connections : 2"));
    EXPECT_EQ(window.TrayIcon().TooltipText(), QStringLiteral("Orvane (2 Connections)"));
    EXPECT_EQ(window.TrayIcon().Icon().cacheKey(), window.BusyIcon().cacheKey());

    first.Close();
    second.Close();
    ASSERT_TRUE(WaitUntil([this] { return server->ConnectionCount() == 0; }));
    EXPECT_EQ(ConnectionText(), QStringLiteral("Number of connections : 0"));
    EXPECT_EQ(window.TrayIcon().TooltipText(), QStringLiteral("Orvane (0 Connections)"));
    EXPECT_EQ(window.TrayIcon().Icon().cacheKey(), window.IdleIcon().cacheKey());
}

TEST_F(MainWindow, WithoutATrayTheWindowAndServerWorkOn) {
    COrvaneDlg& window = ShownWindow(/*trayAvailable=*/false);
    EXPECT_FALSE(window.TrayIcon().IsShown());
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(server->BoundPort()));
    ASSERT_TRUE(WaitUntil([this] { return server->ConnectionCount() == 1; }));
    EXPECT_EQ(ConnectionText(), QStringLiteral("Number of connections : 1"));
    EXPECT_TRUE(window.TrayIcon().TooltipText().isEmpty());
}

TEST_F(MainWindow, ABusyPortUnchecksTheSwitchWithTheStartFailureText) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::AnyIPv4, 0));
    settings.Write(setting::PortNr, occupant.serverPort());
    Window().show();
    ASSERT_TRUE(WaitUntil([this] { return !messages.shown.empty(); }));
    // The designed text, then one line with the port and the real reason.
    const QString text = messages.shown.front().text;
    EXPECT_TRUE(text.startsWith(QString::fromLatin1(kStartFailedText) +
                                QStringLiteral("\n\nPort %1").arg(occupant.serverPort())))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral(": address already in use"))) << text.toStdString();
    EXPECT_EQ(text.count(QLatin1Char('\n')), QString::fromLatin1(kStartFailedText).count('\n') + 2);
    EXPECT_EQ(messages.shown.front().icon, MessageIcon::Stop);
    EXPECT_FALSE(Switch()->isChecked());
    EXPECT_FALSE(server->IsListening());
}

TEST_F(MainWindow, AListenAddressThatIsNoAddressGivesTheStartFailureWithTheReason) {
    settings.Write(setting::ListenAddress, QStringLiteral("server.example"));
    Window().show();
    ASSERT_TRUE(WaitUntil([this] { return !messages.shown.empty(); }));
    EXPECT_EQ(messages.shown.front().text,
              QString::fromLatin1(kStartFailedText) +
                  QStringLiteral("\n\n\"server.example\" is not an IPv4 or IPv6 address."));
    EXPECT_FALSE(Switch()->isChecked());
    EXPECT_FALSE(server->IsListening());
}

TEST_F(MainWindow, StoppingWithAConnectionAsksAndNoKeepsServing) {
    ShownWindow();
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(server->BoundPort()));
    ASSERT_TRUE(WaitUntil([this] { return server->ConnectionCount() == 1; }));

    messages.answers = {MessageAnswer::No};
    Switch()->click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, QString::fromLatin1(kStopQuestionText));
    EXPECT_EQ(messages.shown[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(server->IsListening());
    EXPECT_TRUE(Switch()->isChecked());
    EXPECT_EQ(server->ConnectionCount(), 1);

    messages.answers = {MessageAnswer::Yes};
    Switch()->click();
    EXPECT_FALSE(server->IsListening());
    EXPECT_FALSE(Switch()->isChecked());
    ASSERT_TRUE(WaitUntil([this] { return server->ConnectionCount() == 0; }));
    EXPECT_TRUE(client.WaitForEnd());
}

TEST_F(MainWindow, StoppingWithoutConnectionsAsksNothingAndTheTrayItemStartsAgain) {
    COrvaneDlg& window = ShownWindow();
    Switch()->click();
    EXPECT_FALSE(server->IsListening());
    EXPECT_TRUE(messages.shown.empty());

    window.OnCommand(command::kEnableServer);
    EXPECT_TRUE(server->IsListening());
    EXPECT_TRUE(Switch()->isChecked());
}

struct ExitCase {
    int confirmExit;
    bool asks;
};

class ExitConfirmation : public MainWindow, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ExitConfirmation, ClosingTheWindowAsksOnlyWhenConfirmExitIsExactlyOne) {
    settings.Write(setting::ConfirmExit, GetParam().confirmExit);
    COrvaneDlg& window = ShownWindow();
    QSignalSpy finished(&window, &QDialog::finished);
    window.close();
    EXPECT_EQ(QuestionsAsked(), GetParam().asks ? 1 : 0);
    EXPECT_EQ(finished.count(), 1);
}

TEST_P(ExitConfirmation, ExitNowAsksOnlyWhenConfirmExitIsExactlyOne) {
    settings.Write(setting::ConfirmExit, GetParam().confirmExit);
    COrvaneDlg& window = ShownWindow();
    QSignalSpy finished(&window, &QDialog::finished);
    window.OnCommand(command::kExitNow);
    EXPECT_EQ(QuestionsAsked(), GetParam().asks ? 1 : 0);
    EXPECT_EQ(finished.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(ConfirmExitValues, ExitConfirmation,
                         ::testing::Values(ExitCase{1, true}, ExitCase{0, false},
                                           ExitCase{2, false}),
                         [](const auto& info) {
                             return "ConfirmExit" + std::to_string(info.param.confirmExit);
                         });

TEST_F(MainWindow, AnsweringNoToTheExitQuestionKeepsEverythingRunning) {
    COrvaneDlg& window = ShownWindow();
    QSignalSpy finished(&window, &QDialog::finished);
    messages.answers = {MessageAnswer::No, MessageAnswer::No};
    window.close();
    window.OnCommand(command::kExitNow);
    EXPECT_EQ(QuestionsAsked(), 2);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(server->IsListening());
}

TEST_F(MainWindow, EscapeIsLikeClosingTheWindowAndAsksFirst) {
    COrvaneDlg& window = ShownWindow();
    QSignalSpy finished(&window, &QDialog::finished);
    messages.answers = {MessageAnswer::No};
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(QuestionsAsked(), 1);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(server->IsListening());

    QTimer::singleShot(200, &window, [&window] { QTest::keyClick(&window, Qt::Key_Escape); });
    QTimer::singleShot(5000, &window, [&window] { window.done(99); });  // safety net
    EXPECT_EQ(window.exec(), QDialog::Rejected);
    EXPECT_EQ(QuestionsAsked(), 2);
}

TEST_F(MainWindow, EnterDoesNothingAndEverySessionStays) {
    COrvaneDlg& window = ShownWindow();
    QSignalSpy finished(&window, &QDialog::finished);
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(server->BoundPort()));
    ASSERT_TRUE(WaitUntil([this] { return server->ConnectionCount() == 1; }));
    QTest::keyClick(&window, Qt::Key_Return);
    QTest::keyClick(&window, Qt::Key_Enter);
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(server->ConnectionCount(), 1);
}

TEST_F(MainWindow, ASignalEndsTheRunWithoutAQuestionEvenFromInsideANestedDialog) {
    COrvaneDlg& window = Window();
    settings.Write(setting::ConfirmExit, 1);
    int nestedResult = -1;
    QTimer::singleShot(100, &window, [&] {
        QDialog nested(&window);
        QTimer::singleShot(100, &nested, [&window] { window.ExitNowWithoutQuestion(); });
        nestedResult = nested.exec();
    });
    QTimer::singleShot(5000, &window, [&window] { window.done(99); });  // safety net
    EXPECT_EQ(window.exec(), QDialog::Rejected);
    EXPECT_EQ(nestedResult, QDialog::Rejected);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MainWindow, WithoutATrayMinimisingKeepsTheWindowWithinReach) {
    COrvaneDlg& window = ShownWindow(/*trayAvailable=*/false);
    window.showMinimized();
    QCoreApplication::processEvents();
    QTest::qWait(50);
    EXPECT_TRUE(window.isVisible());
    window.OnCommand(command::kHide);  // what "Start minimized" posts
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
    window.OnCommand(command::kOpen);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindow, WithoutATrayStartMinimizeMinimisesInsteadOfHiding) {
    settings.Write(setting::StartMinimize, 1);
    COrvaneDlg& window = ShownWindow(/*trayAvailable=*/false);
    ASSERT_TRUE(WaitUntil([&window] { return window.isMinimized(); }));
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(server->IsListening());
}

TEST_F(MainWindow, HidingToTheTrayDoesNotEndTheRunAndOpenBringsTheWindowBack) {
    COrvaneDlg& window = Window();
    bool wasHidden = false, cameBack = false;
    QTimer::singleShot(100, &window, [&] { window.OnCommand(command::kHide); });
    QTimer::singleShot(300, &window, [&] {
        wasHidden = !window.isVisible();
        window.OnCommand(command::kOpen);
    });
    QTimer::singleShot(500, &window, [&] {
        cameBack = window.isVisible();
        window.OnCommand(command::kExitNow);
    });
    window.exec();
    EXPECT_TRUE(wasHidden);
    EXPECT_TRUE(cameBack);
}

TEST_F(MainWindow, WhileAnAutomationClientHoldsItClosingOnlyHides) {
    COrvaneDlg& window = ShownWindow();
    QSignalSpy finished(&window, &QDialog::finished);
    window.SetProxy(reinterpret_cast<COrvaneDlgAutoProxy*>(&window));
    settings.Write(setting::ConfirmExit, 0);
    window.close();
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_FALSE(window.isVisible());
    window.SetProxy(nullptr);
}

TEST_F(MainWindow, StartMinimizeHidesRightAfterShowingAndStillServes) {
    settings.Write(setting::StartMinimize, 1);
    COrvaneDlg& window = ShownWindow();
    ASSERT_TRUE(WaitUntil([&window] { return !window.isVisible(); }));
    EXPECT_TRUE(server->IsListening());
    EXPECT_EQ(window.TrayIcon().TooltipText(), QStringLiteral("Orvane (0 Connections)"));
}

TEST_F(MainWindow, The151stEntryPushesOutTheFirstAndTheNewestIsInView) {
    COrvaneDlg& window = ShownWindow();
    for (int i = 1; i <= 151; ++i) window.LogActivity(QByteArray::number(i), "Logging in...");
    ActivityListModel& model = window.ActivityModel();
    ASSERT_EQ(model.rowCount(), 150);
    EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("2"));
    EXPECT_EQ(model.index(149, 0).data().toString(), QStringLiteral("151"));

    auto* list = window.findChild<QTreeView*>(QLatin1String(control::main::kActivityList));
    const QRect newest = list->visualRect(model.index(149, 0));
    EXPECT_TRUE(list->viewport()->rect().contains(newest)) << newest.y();
}

TEST_F(MainWindow, TheListHasThreeFixedColumnsWhoWhenWhat) {
    COrvaneDlg& window = Window();
    auto* list = window.findChild<QTreeView*>(QLatin1String(control::main::kActivityList));
    ASSERT_EQ(window.ActivityModel().columnCount(), 3);
    EXPECT_EQ(window.ActivityModel().headerData(2, Qt::Horizontal).toString(),
              QStringLiteral("What"));
    EXPECT_GT(list->columnWidth(0), 0);
    EXPECT_GE(list->columnWidth(2), 2 * list->columnWidth(0) - 1);
    EXPECT_FALSE(list->header()->sectionsClickable());
}

TEST_F(MainWindow, AboutIsTheLastItemOfTheWindowMenuAfterASeparator) {
    COrvaneDlg& window = Window();
    const QList<QAction*> actions = window.actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_EQ(actions.last(), window.AboutAction());
    EXPECT_EQ(actions.last()->text(), QStringLiteral("&About orvane..."));
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
}

TEST(TrayMenu, OffersOpenEnableAndExitWithOpenAsDefaultAndTheCheckFollowingTheServer) {
    QMenu menu;
    CSystemTray::BuildMenu(menu);
    const QList<QAction*> items = menu.actions();
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0]->text(), QStringLiteral("&Open..."));
    EXPECT_EQ(items[0]->data().toInt(), command::kOpen);
    EXPECT_EQ(items[1]->text(), QStringLiteral("&Enable Server"));
    EXPECT_EQ(items[1]->data().toInt(), command::kEnableServer);
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(items[3]->text(), QStringLiteral("E&xit Now"));
    EXPECT_EQ(items[3]->data().toInt(), command::kExitNow);
    EXPECT_EQ(menu.defaultAction(), items[0]);

    CSystemTray::UpdateMenu(menu, true);
    EXPECT_TRUE(items[1]->isChecked());
    CSystemTray::UpdateMenu(menu, false);
    EXPECT_FALSE(items[1]->isChecked());
}

TEST(TrayIcon, CutsLongTooltipsTo63Characters) {
    CSystemTray tray(true);
    ASSERT_TRUE(tray.Create(QStringLiteral("Orvane (0 Connections)"), QIcon()));
    tray.SetTooltipText(QString(80, QLatin1Char('x')));
    EXPECT_EQ(tray.TooltipText().size(), 63);
    tray.RemoveIcon();
    EXPECT_FALSE(tray.SetTooltipText(QStringLiteral("ignored")));
}

}  // namespace
}  // namespace orvane::test
