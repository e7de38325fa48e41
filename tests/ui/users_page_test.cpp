// The Users page and the user dialogs: the page's own copy of the table, the list, the rules.
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QTreeWidget>

#include "SheetFixture.h"
#include "ui/ControlIds.h"
#include "ui/PageUsers.h"
#include "ui/UserDialogs.h"
#include "users/UserEditing.h"

namespace orvane {
namespace {

using test::SheetFixture;

// What the operator types into the "Add/Edit User" dialog before pressing OK or Cancel.
struct Typed {
    Typed(QString typedName, QString typedPassword = QStringLiteral("pw"))
        : name(std::move(typedName)), password(std::move(typedPassword)) {}
    static Typed Cancel() {
        Typed typed{QString()};
        typed.cancel = true;
        return typed;
    }
    QString name;
    QString password;
    bool cancel = false;
};

class UsersPageTest : public SheetFixture {
protected:
    void AddLiveUsers(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            UserRecord record;
            record.canLogin = 1;
            SetRecordText(record.name, kNameSize, QString::fromUtf8(name), 127);
            AppendUser(m_app.Users(), record);
        }
    }

    std::unique_ptr<CConfigSheet> OpenUsersPage() {
        auto sheet = OpenSheet();
        sheet->ShowPage(CConfigSheet::Users);
        sheet->UsersPage().SetDialogRunner([this](QDialog& dialog) {
            ++m_dialogsRun;
            if (m_typed.empty()) return static_cast<int>(QDialog::Rejected);
            const Typed typed = m_typed.front();
            m_typed.pop_front();
            m_seenNames.push_back(Control<QLineEdit>(dialog, control::user::kName)->text());
            if (typed.cancel) {
                Control<QPushButton>(dialog, control::kCancel)->click();
            } else {
                Control<QLineEdit>(dialog, control::user::kName)->setText(typed.name);
                Control<QLineEdit>(dialog, control::user::kPassword)->setText(typed.password);
                Control<QPushButton>(dialog, control::kOk)->click();
            }
            return dialog.result();
        });
        return sheet;
    }

    static QStringList ListedNames(CPageUsers& page) {
        QStringList names;
        for (int i = 0; i < page.List()->topLevelItemCount(); ++i) {
            names << page.List()->topLevelItem(i)->text(0);
        }
        return names;
    }
    static void Select(CPageUsers& page, const QString& name) {
        page.List()->clearSelection();
        for (int i = 0; i < page.List()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = page.List()->topLevelItem(i);
            if (item->text(0) == name) item->setSelected(true);
        }
    }
    // Every list item must show the name of the slot its data names.
    static void ExpectItemsMatchSlots(CPageUsers& page) {
        for (int i = 0; i < page.List()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = page.List()->topLevelItem(i);
            const int slot = item->data(0, Qt::UserRole).toInt();
            ASSERT_GE(slot, 0);
            ASSERT_LT(slot, page.Table().count);
            EXPECT_EQ(item->text(0), RecordText(page.Table().records[slot].name, kNameSize));
        }
        EXPECT_EQ(page.List()->topLevelItemCount(), page.Table().count);
    }
    bool DatabaseFileExists() const { return QFile::exists(m_app.DataFilePath()); }

    std::deque<Typed> m_typed;
    std::vector<QString> m_seenNames;
    int m_dialogsRun = 0;
};

TEST_F(UsersPageTest, ListShowsTheUsersSortedByName) {
    AddLiveUsers({"mike", "Anna", "zoe", "bert"});
    auto sheet = OpenUsersPage();
    CPageUsers& page = sheet->UsersPage();
    EXPECT_EQ(ListedNames(page), (QStringList{"Anna", "bert", "mike", "zoe"}));
    EXPECT_EQ(page.List()->headerItem()->text(0), QStringLiteral("User"));
    EXPECT_FALSE(page.List()->topLevelItem(0)->icon(0).isNull());
    ExpectItemsMatchSlots(page);
}

TEST_F(UsersPageTest, CancelAfterAddingEditingAndDeletingLeavesTheLiveTableAlone) {
    AddLiveUsers({"anna", "bert", "carl"});
    const auto before = std::make_unique<UserTable>(m_app.Users());
    auto sheet = OpenUsersPage();
    CPageUsers& page = sheet->UsersPage();
    m_typed = {{QStringLiteral("dora")}, {QStringLiteral("bertram")}};
    page.OnNewUser();
    Select(page, QStringLiteral("bert"));
    page.OnEditUser();
    Select(page, QStringLiteral("anna"));
    page.OnDeleteUser();
    EXPECT_EQ(ListedNames(page), (QStringList{"bertram", "carl", "dora"}));

    sheet->PressCancel();
    EXPECT_EQ(std::memcmp(before.get(), &m_app.Users(), sizeof(UserTable)), 0);
    EXPECT_FALSE(DatabaseFileExists());
}

TEST_F(UsersPageTest, OkPutsThePageTableIntoTheLiveTable) {
    AddLiveUsers({"anna"});
    auto sheet = OpenUsersPage();
    m_typed = {{QStringLiteral("bert"), QStringLiteral("secret")}};
    sheet->UsersPage().OnNewUser();
    sheet->PressOK();
    ASSERT_EQ(m_app.Users().count, 2);
    EXPECT_STREQ(m_app.Users().records[1].name, "bert");
    EXPECT_STREQ(m_app.Users().records[1].password, "secret");
    EXPECT_EQ(m_app.Users().records[1].canLogin, 1);
}

TEST_F(UsersPageTest, NewIsRefusedAt98UsersWithoutOpeningTheDialog) {
    for (int i = 0; i < 97; ++i) {
        AddLiveUsers({QStringLiteral("user%1").arg(i).toUtf8().constData()});
    }
    auto sheet = OpenUsersPage();
    CPageUsers& page = sheet->UsersPage();
    m_typed = {{QStringLiteral("the98th")}, {QStringLiteral("the99th")}};
    page.OnNewUser();
    EXPECT_EQ(page.Table().count, 98);
    EXPECT_TRUE(m_messages.shown.empty());

    page.OnNewUser();
    EXPECT_EQ(m_dialogsRun, 1);
    EXPECT_EQ(page.Table().count, 98);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("You cannot define any more users."));
    EXPECT_EQ(m_messages.shown[0].icon, MessageIcon::Stop);
}

TEST_F(UsersPageTest, NamesThatDifferOnlyInCaseAreRefused) {
    AddLiveUsers({"Anna", "bert"});
    auto sheet = OpenUsersPage();
    CPageUsers& page = sheet->UsersPage();
    m_typed = {{QStringLiteral("ANNA")}, {QStringLiteral("Bert")}, {QStringLiteral("anna")}};
    page.OnNewUser();
    Select(page, QStringLiteral("Anna"));
    page.OnEditUser();  // renaming Anna to "Bert" collides with bert
    page.OnEditUser();  // keeping her own name in another case is fine
    ASSERT_EQ(m_messages.shown.size(), 2u);
    for (const auto& message : m_messages.shown) {
        EXPECT_EQ(message.text, QStringLiteral("A user with that name already exists."));
        EXPECT_EQ(message.icon, MessageIcon::Stop);
    }
    EXPECT_EQ(page.Table().count, 2);
    EXPECT_STREQ(page.Table().records[0].name, "anna");
    EXPECT_EQ(ListedNames(page), (QStringList{"anna", "bert"}));
}

TEST_F(UsersPageTest, RenamedUserIsShownUnderTheNewNameInOrder) {
    AddLiveUsers({"anna", "bert", "carl"});
    auto sheet = OpenUsersPage();
    CPageUsers& page = sheet->UsersPage();
    m_typed = {{QStringLiteral("zack")}};
    Select(page, QStringLiteral("anna"));
    page.OnEditUser();
    EXPECT_EQ(m_seenNames, (std::vector<QString>{QStringLiteral("anna")}));
    EXPECT_EQ(ListedNames(page), (QStringList{"bert", "carl", "zack"}));
    ExpectItemsMatchSlots(page);
}

TEST_F(UsersPageTest, FormerLastUserStaysReachableAfterAMiddleUserIsDeleted) {
    AddLiveUsers({"anna", "bert", "carl", "dora"});
    auto sheet = OpenUsersPage();
    CPageUsers& page = sheet->UsersPage();
    Select(page, QStringLiteral("bert"));
    page.OnDeleteUser();
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("Delete user \"bert\"?"));
    EXPECT_EQ(m_messages.shown[0].icon, MessageIcon::Question);
    EXPECT_EQ(m_messages.shown[0].buttons, MessageButtons::YesNo);
    ExpectItemsMatchSlots(page);

    m_typed = {{QStringLiteral("doris")}};
    Select(page, QStringLiteral("dora"));
    page.OnEditUser();
    EXPECT_EQ(m_seenNames.back(), QStringLiteral("dora"));
    EXPECT_STREQ(page.Table().records[1].name, "doris");
    ExpectItemsMatchSlots(page);

    Select(page, QStringLiteral("doris"));
    page.OnDeleteUser();
    EXPECT_EQ(m_messages.shown.back().text, QStringLiteral("Delete user \"doris\"?"));
    EXPECT_EQ(ListedNames(page), (QStringList{"anna", "carl"}));
    EXPECT_EQ(page.Table().count, 2);
    ExpectItemsMatchSlots(page);
}

TEST_F(UsersPageTest, DeleteAnsweredNoAndActionsWithoutSelectionDoNothing) {
    AddLiveUsers({"anna"});
    auto sheet = OpenUsersPage();
    CPageUsers& page = sheet->UsersPage();
    page.OnEditUser();
    page.OnDeleteUser();
    EXPECT_EQ(m_dialogsRun, 0);
    EXPECT_TRUE(m_messages.shown.empty());

    m_messages.answers = {MessageAnswer::No};
    Select(page, QStringLiteral("anna"));
    page.OnDeleteUser();
    EXPECT_EQ(page.Table().count, 1);

    page.OnDeleteUser();  // Yes this time: the only user goes, the list is empty
    EXPECT_EQ(page.Table().count, 0);
    EXPECT_EQ(page.List()->topLevelItemCount(), 0);
}

TEST_F(UsersPageTest, WithSeveralSelectedTheOneHighestInTheListIsActedOn) {
    AddLiveUsers({"carl", "anna", "bert"});
    auto sheet = OpenUsersPage();
    CPageUsers& page = sheet->UsersPage();
    page.List()->topLevelItem(2)->setSelected(true);
    page.List()->topLevelItem(1)->setSelected(true);
    page.OnDeleteUser();
    EXPECT_EQ(m_messages.shown.back().text, QStringLiteral("Delete user \"bert\"?"));
    EXPECT_EQ(ListedNames(page), (QStringList{"anna", "carl"}));
}

TEST_F(UsersPageTest, DoubleClickAnywhereInTheListEditsTheSelectedUser) {
    AddLiveUsers({"anna", "bert"});
    auto sheet = OpenUsersPage();
    CPageUsers& page = sheet->UsersPage();
    QWidget* viewport = page.List()->viewport();
    const QPointF emptyPlace(5, viewport->height() > 10 ? viewport->height() - 5 : 5);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, emptyPlace,
                            viewport->mapToGlobal(emptyPlace), Qt::LeftButton, Qt::LeftButton,
                            Qt::NoModifier);
    QApplication::sendEvent(viewport, &doubleClick);
    EXPECT_EQ(m_dialogsRun, 0);

    Select(page, QStringLiteral("bert"));
    m_typed = {Typed::Cancel()};
    QApplication::sendEvent(viewport, &doubleClick);
    EXPECT_EQ(m_seenNames, (std::vector<QString>{QStringLiteral("bert")}));
}

// ---- The dialogs ----

class UserDialogTest : public ::testing::Test {};

TEST_F(UserDialogTest, NewUserStartsWithEveryRightAndNoGreeting) {
    CUserDlg dialog(true, UserRecord{});
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Add/Edit User"));
    for (const char* id :
         {control::user::kCanLogin, control::user::kCanUseDos, control::user::kCanShutdown}) {
        EXPECT_TRUE(dialog.findChild<QCheckBox*>(QLatin1String(id))->isChecked()) << id;
    }
    EXPECT_FALSE(
        dialog.findChild<QCheckBox*>(QLatin1String(control::user::kCustomGreeting))->isChecked());
    EXPECT_FALSE(
        dialog.findChild<QPlainTextEdit*>(QLatin1String(control::user::kGreeting))->isEnabled());
    EXPECT_EQ(dialog.focusWidget(),
              dialog.findChild<QLineEdit*>(QLatin1String(control::user::kName)));
    QStringList groups;
    for (auto* group : dialog.findChildren<QGroupBox*>()) groups << group->title();
    EXPECT_EQ(groups, (QStringList{"Priveleges", "Misc", "Login"}));
    bool noteShown = false;
    for (auto* label : dialog.findChildren<QLabel*>()) {
        noteShown =
            noteShown ||
            label->text() == QStringLiteral("Changes take place the next time the user logs in.");
    }
    EXPECT_TRUE(noteShown);
}

TEST_F(UserDialogTest, EditShowsTheRecordAndOkReadsTheControlsBack) {
    UserRecord record;
    record.canLogin = 1;
    record.canUseDos = 0;
    record.canShutdown = 7;
    CopyText(record.name, kNameSize, "anna", 127);
    CopyText(record.password, kPasswordSize, "pw", 127);
    CopyText(record.greeting, kGreetingSize, "Hi\r\nthere", 498);
    CUserDlg dialog(false, record);
    auto* greeting = dialog.findChild<QPlainTextEdit*>(QLatin1String(control::user::kGreeting));
    EXPECT_TRUE(
        dialog.findChild<QCheckBox*>(QLatin1String(control::user::kCustomGreeting))->isChecked());
    EXPECT_TRUE(greeting->isEnabled());
    EXPECT_EQ(greeting->toPlainText(), QStringLiteral("Hi\nthere"));
    EXPECT_FALSE(
        dialog.findChild<QCheckBox*>(QLatin1String(control::user::kCanUseDos))->isChecked());
    EXPECT_TRUE(
        dialog.findChild<QCheckBox*>(QLatin1String(control::user::kCanShutdown))->isChecked());
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QLatin1String(control::user::kPassword))->echoMode(),
              QLineEdit::Password);

    greeting->setPlainText(QStringLiteral("Hello\nagain"));
    dialog.findChild<QPushButton*>(QLatin1String(control::kOk))->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_STREQ(dialog.Record().greeting, "Hello\r\nagain");
    EXPECT_EQ(dialog.Record().canShutdown, 1);
    EXPECT_EQ(dialog.Record().canUseDos, 0);
}

TEST_F(UserDialogTest, AUserWhoCanLogInNeedsAPasswordAndOneWhoCannotDoesNot) {
    CUserDlg dialog(true, UserRecord{});
    dialog.findChild<QLineEdit*>(QLatin1String(control::user::kName))
        ->setText(QStringLiteral("anna"));
    auto* ok = dialog.findChild<QPushButton*>(QLatin1String(control::kOk));
    ok->click();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.findChild<QLabel*>(QLatin1String(control::user::kPasswordRefusal))->text(),
              QStringLiteral("The password must not be empty."));
    dialog.findChild<QCheckBox*>(QLatin1String(control::user::kCanLogin))->click();
    ok->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Record().canLogin, 0);
}

TEST_F(UserDialogTest, UncheckedGreetingBoxEmptiesTheGreeting) {
    UserRecord record;
    CopyText(record.greeting, kGreetingSize, "Hi", 498);
    CUserDlg dialog(false, record);
    auto* box = dialog.findChild<QCheckBox*>(QLatin1String(control::user::kCustomGreeting));
    box->click();
    EXPECT_FALSE(
        dialog.findChild<QPlainTextEdit*>(QLatin1String(control::user::kGreeting))->isEnabled());
    EXPECT_EQ(
        dialog.findChild<QPlainTextEdit*>(QLatin1String(control::user::kGreeting))->toPlainText(),
        QStringLiteral("Hi"));
    dialog.findChild<QPushButton*>(QLatin1String(control::kOk))->click();
    EXPECT_STREQ(dialog.Record().greeting, "");
}

TEST_F(UserDialogTest, LongTextsAreCutWithoutSplittingACharacter) {
    CUserDlg dialog(true, UserRecord{});
    dialog.findChild<QLineEdit*>(QLatin1String(control::user::kName))
        ->setText(QString(130, QLatin1Char('n')));
    dialog.findChild<QLineEdit*>(QLatin1String(control::user::kPassword))
        ->setText(QString(126, QLatin1Char('p')) + QStringLiteral("ü"));
    dialog.findChild<QCheckBox*>(QLatin1String(control::user::kCustomGreeting))->click();
    dialog.findChild<QPlainTextEdit*>(QLatin1String(control::user::kGreeting))
        ->setPlainText(QString(600, QLatin1Char('g')));
    dialog.findChild<QPushButton*>(QLatin1String(control::kOk))->click();
    EXPECT_EQ(std::strlen(dialog.Record().name), 127u);
    EXPECT_EQ(QByteArray(dialog.Record().password), QByteArray(126, 'p'));
    EXPECT_EQ(std::strlen(dialog.Record().greeting), 498u);
}

TEST_F(UserDialogTest, AdminAccountDialogOffersAdministratorWithEveryRight) {
    CAddAdminDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Add Administration Account"));
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QLatin1String(control::user::kName))->text(),
              QStringLiteral("Administrator"));
    EXPECT_EQ(dialog.focusWidget(),
              dialog.findChild<QLineEdit*>(QLatin1String(control::user::kPassword)));
    bool introShown = false;
    for (auto* label : dialog.findChildren<QLabel*>()) {
        introShown = introShown || label->text() == QStringLiteral(
                                                        "You should add an administration "
                                                        "account.\nType the password below.");
    }
    EXPECT_TRUE(introShown);

    // An empty password would let anybody in as Administrator: refused, and asked again.
    auto* ok = dialog.findChild<QPushButton*>(QLatin1String(control::kOk));
    auto* refusal = dialog.findChild<QLabel*>(QLatin1String(control::user::kPasswordRefusal));
    EXPECT_TRUE(refusal->isHidden());
    ok->click();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(refusal->isHidden());
    EXPECT_EQ(refusal->text(), QStringLiteral("The password must not be empty."));
    dialog.findChild<QLineEdit*>(QLatin1String(control::user::kPassword))
        ->setText(QStringLiteral("s3cret"));
    ok->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_STREQ(dialog.Record().name, "Administrator");
    EXPECT_STREQ(dialog.Record().password, "s3cret");
    EXPECT_STREQ(dialog.Record().greeting, "");
    EXPECT_EQ(dialog.Record().canLogin, 1);
    EXPECT_EQ(dialog.Record().canUseDos, 1);
    EXPECT_EQ(dialog.Record().canShutdown, 1);
}

TEST_F(UserDialogTest, AdminAccountTextsAreCutAt126Bytes) {
    CAddAdminDlg dialog;
    dialog.findChild<QLineEdit*>(QLatin1String(control::user::kName))
        ->setText(QString(130, QLatin1Char('n')));
    dialog.findChild<QLineEdit*>(QLatin1String(control::user::kPassword))
        ->setText(QString(130, QLatin1Char('p')));
    dialog.findChild<QPushButton*>(QLatin1String(control::kOk))->click();
    EXPECT_EQ(std::strlen(dialog.Record().name), 126u);
    EXPECT_EQ(std::strlen(dialog.Record().password), 126u);
}

}  // namespace
}  // namespace orvane
